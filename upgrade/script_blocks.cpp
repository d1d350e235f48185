#include "upgrade/script_blocks.h"

#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/native_path.h"
#include "platform/text.h"

#include <algorithm>
#include <fstream>
#include <string_view>

namespace offline_upgrade {

namespace {

constexpr std::string_view kBeginMarker = kScriptBeginMarker;
constexpr std::string_view kEndMarker = kScriptEndMarker;
constexpr char kEndOfFile = 26; // Ctrl-Z

bool IsAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

} // namespace

// Reads a script file line by line, in chunks, so no more than one line is held at a time.
class ScriptCutter::LineReader {
public:
    explicit LineReader(const std::string &path) : in_(LongNativePath(path), std::ios::binary)
    {
        if (!in_)
            throw KxError("cannot open the script file " + path);
    }

    // The next line, without its end. False when the file is at its end.
    bool Next(std::string &line)
    {
        line.clear();
        bool any = false;
        for (;;) {
            if (ended_)
                return Counted(any);
            if (pos_ == len_ && !Fill())
                return Counted(any);
            any = true;
            const char *begin = buffer_ + pos_;
            const char *end = buffer_ + len_;
            const char *stop = std::find_if(
                begin, end, [](char c) { return c == '\n' || c == '\r' || c == kEndOfFile; });
            line.append(begin, stop);
            pos_ = static_cast<size_t>(stop - buffer_);
            if (stop == end)
                continue;
            ++pos_;
            if (*stop == '\n')
                return Counted(true);
            if (*stop == kEndOfFile) {
                ended_ = true;
                return Counted(true);
            }
            // A CR is dropped wherever it stands.
        }
    }

    // The number of the line Next gave last.
    int LineNumber() const { return number_; }

private:
    bool Counted(bool got)
    {
        if (got)
            ++number_;
        return got;
    }

    bool Fill()
    {
        for (;;) {
            in_.read(buffer_, sizeof buffer_);
            len_ = static_cast<size_t>(in_.gcount());
            pos_ = 0;
            // A UTF-8 byte-order mark is no text of the first line.
            if (first_ && std::string_view(buffer_, len_).starts_with("\xEF\xBB\xBF"))
                pos_ = 3;
            first_ = false;
            if (len_ > pos_)
                return true;
            if (len_ == 0)
                break;
        }
        if (in_.bad())
            throw KxError("cannot read the script file");
        ended_ = true;
        return false;
    }

    std::ifstream in_;
    char buffer_[64 * 1024];
    size_t pos_ = 0;
    size_t len_ = 0;
    int number_ = 0;
    bool ended_ = false;
    bool first_ = true;
};

ScriptCutter::ScriptCutter(const std::string &path)
{
    // Whether the script is UTF-8 is decided for the whole file, as for the descriptor: a
    // single line of GB18030 can happen to be valid UTF-8 as well. LF never stands inside a
    // character of either code, so checking line by line checks the file.
    {
        LineReader probe(path);
        std::string line;
        bool ascii = true;
        bool utf8 = true;
        while (utf8 && probe.Next(line)) {
            if (!IsValidUtf8(line))
                utf8 = false;
            else if (ascii && !IsAscii(line))
                ascii = false;
        }
        codePage_ = !utf8 ? ScriptCodePage::Gb18030
                          : (ascii ? ScriptCodePage::Ascii : ScriptCodePage::Utf8);
    }
    reader_ = std::make_unique<LineReader>(path);
}

ScriptCutter::~ScriptCutter() = default;

namespace {

// A piece of the script as UTF-8 text.
std::string ScriptText(const std::string &bytes, ScriptCodePage codePage)
{
    if (codePage != ScriptCodePage::Gb18030 || IsAscii(bytes))
        return bytes;
    return Gb18030ToUtf8(bytes);
}

} // namespace

// Hands out the collected lines as a Dropped piece when there are any, or when a block was
// begun and not ended; resets what was collected.
bool ScriptCutter::Emit(ScriptPiece &piece)
{
    const bool any = statements_ > 0 || beginLine_ != 0;
    if (any) {
        piece = ScriptPiece{};
        piece.What = ScriptPiece::Kind::Dropped;
        piece.Line = firstLine_;
        piece.LastLine = lastLine_;
        piece.Name = name_;
        piece.Statements = statements_;
        piece.BeginLine = beginLine_;
    }
    collected_.clear();
    statements_ = 0;
    firstLine_ = lastLine_ = 0;
    beginLine_ = 0;
    return any;
}

bool ScriptCutter::Next(ScriptPiece &piece)
{
    if (held_) {
        held_ = false;
        piece = std::move(heldPiece_);
        return true;
    }
    if (ended_)
        return false;
    std::string line;
    while (reader_->Next(line)) {
        const std::string trimmed = TrimControl(line);
        if (trimmed.empty())
            continue;
        const int number = reader_->LineNumber();
        if (trimmed.starts_with(kBeginMarker)) {
            ScriptPiece begin;
            begin.What = ScriptPiece::Kind::Begin;
            begin.Line = number;
            begin.Name = trimmed.size() > 13 ? ScriptText(trimmed.substr(13), codePage_) : "";
            ScriptPiece dropped;
            const bool anyDropped = Emit(dropped);
            name_ = begin.Name;
            beginLine_ = number;
            if (!anyDropped) {
                piece = std::move(begin);
                return true;
            }
            heldPiece_ = std::move(begin);
            held_ = true;
            piece = std::move(dropped);
            return true;
        }
        if (trimmed.starts_with(kEndMarker)) {
            piece = ScriptPiece{};
            piece.What = ScriptPiece::Kind::End;
            piece.Line = number;
            piece.Name = name_;
            piece.Command = std::move(collected_);
            piece.Statements = statements_;
            piece.BeginLine = beginLine_;
            // A second end marker without a begin marker must not run this block again.
            collected_.clear();
            statements_ = 0;
            firstLine_ = lastLine_ = 0;
            beginLine_ = 0;
            return true;
        }
        if (!collected_.empty())
            collected_ += "\r\n";
        collected_ += ScriptText(trimmed, codePage_);
        if (statements_++ == 0)
            firstLine_ = number;
        lastLine_ = number;
    }
    ended_ = true;
    return Emit(piece);
}

} // namespace offline_upgrade
