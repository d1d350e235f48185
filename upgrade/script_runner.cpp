#include "upgrade/script_runner.h"

#include "platform/codepage.h"
#include "platform/diagnostics.h"
#include "platform/error.h"
#include "platform/text.h"
#include "upgrade/stage_log.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <fstream>
#include <string_view>

namespace {

constexpr std::string_view kBeginMarker = "-- sql begin"; // matched on its 12 bytes
constexpr std::string_view kEndMarker = "-- end sql";     // matched on its 10 bytes
constexpr char kEndOfFile = 26;                           // Ctrl-Z

// Reads a script file line by line, in chunks, so no more than one line is held at a time. A
// line ends at LF; a CR is never part of a line; Ctrl-Z ends the line it stands in and the
// file.
class ScriptLineReader {
public:
    explicit ScriptLineReader(const std::string &path) : in_(path, std::ios::binary)
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
                return any;
            if (pos_ == len_ && !Fill())
                return any;
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
                return true;
            if (*stop == kEndOfFile) {
                ended_ = true;
                return true;
            }
            // A CR is dropped wherever it stands.
        }
    }

private:
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
    bool ended_ = false;
    bool first_ = true;
};

// Whether the script is UTF-8 is decided for the whole file, as for the descriptor: a single
// line of GB18030 can happen to be valid UTF-8 as well. LF never stands inside a character of
// either code, so checking line by line checks the file.
bool IsUtf8Script(const std::string &path)
{
    ScriptLineReader reader(path);
    std::string line;
    while (reader.Next(line)) {
        if (!IsValidUtf8(line))
            return false;
    }
    return true;
}

bool IsAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// A piece of the script as text of the system code page.
std::string ScriptText(const std::string &bytes, bool utf8Script)
{
    if (utf8Script || IsAscii(bytes))
        return bytes;
    // ToSystemText takes valid UTF-8 as it is, which a line of a GB18030 file may happen to be.
    // A leading ideographic space in GB18030 (A1 A1, never valid UTF-8) forces the conversion
    // and is taken off again.
    static constexpr std::string_view kMarkGb = "\xA1\xA1";
    static constexpr std::string_view kMarkConverted = "\xE3\x80\x80";
    std::string text = ToSystemText(std::string(kMarkGb) + bytes);
    if (text.starts_with(kMarkConverted))
        text.erase(0, kMarkConverted.size());
    else if (text.starts_with(kMarkGb))
        text.erase(0, kMarkGb.size());
    return text;
}

std::string StepText(int executed, int total)
{
    return "正在执行升级脚本(" + std::to_string(executed) + "/" + std::to_string(total) + ")...";
}

} // namespace

std::string UpgradeScriptPath(const UpgradeContext &context)
{
    const std::string unpacked = UnpackedPackageFolder(context);
    return unpacked.empty() ? std::string() : unpacked + "/UpdateSQL.sql";
}

bool RunUpgradeScripts(UpgradeContext &context, bool ServerIsLocal)
{
    const std::string path = UpgradeScriptPath(context);
    if (!ServerIsLocal) {
        LogInfo("script stage: skipped, the database server is not this machine");
        return true;
    }
    if (path.empty() || !context.Files.FileExists(path)) {
        LogInfo("script stage: skipped, the package has no UpdateSQL.sql");
        return true;
    }
    StageLog stage("script stage");

    IWindowFacilities &window = context.Window;
    // The bar takes no maximum below 0.
    const int total = std::max(context.Package.SQLCount, 0);
    window.SetProgressMax(total);
    window.SetStepText(StepText(0, total));
    window.SetProgressPosition(0);
    window.ProcessMessages();

    std::string blockName;
    int executed = 0;
    std::chrono::steady_clock::time_point blockStart{};
    bool inBlock = false;
    try {
        const bool utf8Script = IsUtf8Script(path);
        ScriptLineReader reader(path);
        std::string line;
        std::string block; // the collected lines, joined by CR LF
        while (reader.Next(line)) {
            const std::string trimmed = TrimControl(line);
            if (trimmed.empty())
                continue;
            if (trimmed.starts_with(kBeginMarker)) {
                blockName = trimmed.size() > 13 ? ScriptText(trimmed.substr(13), utf8Script) : "";
                window.ProcessMessages();
                block.clear();
            } else if (trimmed.starts_with(kEndMarker)) {
                inBlock = true;
                blockStart = std::chrono::steady_clock::now();
                context.updataExec.SetCommandText(block);
                context.updataExec.Execute();
                inBlock = false;
                LogInfo("block " + blockName + ": ran in " + MillisecondsSince(blockStart));
                // A second end marker without a begin marker must not run this block again.
                block.clear();
                ++executed;
                window.SetStepText(StepText(executed, total));
                window.SetProgressPosition(window.ProgressPosition() + 1);
                window.ProcessMessages();
            } else {
                if (!block.empty())
                    block += "\r\n";
                block += ScriptText(trimmed, utf8Script);
            }
        }
        LogInfo("script stage: " + std::to_string(executed) + " blocks ran (the package names " +
                std::to_string(context.Package.SQLCount) + ")");
        return stage.Done(true);
    } catch (const std::exception &error) {
        // The database's own words: state, native error and message of each record.
        if (inBlock)
            LogError("block " + blockName + ": failed after " + MillisecondsSince(blockStart) +
                     ": " + error.what());
        else
            LogError("script stage: " + path + ": " + error.what());
        LogError("script stage: " + std::to_string(executed) +
                 " blocks ran and stay applied; the rest of the script did not run");
        window.ShowMessage("执行升级脚本失败(" + blockName + ")！", kNoticeCaption,
                           MessageIcon::Error);
        return stage.Done(false);
    }
}
