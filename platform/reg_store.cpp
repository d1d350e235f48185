#include "platform/reg_store.h"

#include "platform/codepage.h"
#include "platform/registry.h"
#include "platform/text.h"

#include <utility>

namespace offline_upgrade {

// --- Parsing --------------------------------------------------------------------------------

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// 1 to 8 hex digits and nothing else.
std::optional<uint32_t> ParseHex32(std::string_view s)
{
    if (s.empty() || s.size() > 8)
        return std::nullopt;
    uint32_t v = 0;
    for (char c : s) {
        const int d = HexDigit(c);
        if (d < 0)
            return std::nullopt;
        v = (v << 4) | static_cast<uint32_t>(d);
    }
    return v;
}

// "01,ab, 2f," : bytes of one or two hex digits between commas, each right before its comma
// (blanks may follow a comma, not precede one); a trailing comma is allowed.
std::optional<std::string> ParseHexList(std::string_view s)
{
    std::string out;
    s = TrimBlanks(s);
    if (s.empty())
        return out;
    size_t start = 0;
    for (;;) {
        const size_t comma = s.find(',', start);
        std::string_view token =
            s.substr(start, comma == std::string_view::npos ? s.npos : comma - start);
        while (!token.empty() && IsBlank(token.front()))
            token.remove_prefix(1);
        if (token.empty())
            return comma == std::string_view::npos ? std::optional(out) : std::nullopt;
        const auto byte = token.size() <= 2 ? ParseHex32(token) : std::nullopt;
        if (!byte)
            return std::nullopt;
        out += static_cast<char>(*byte);
        if (comma == std::string_view::npos)
            return out;
        start = comma + 1;
    }
}

// A quoted text at s[i] == '"' with the escapes \\ and \"; any other backslash stays as it is.
// On success i is just past the closing quote.
bool ParseQuoted(std::string_view s, size_t &i, std::string &out)
{
    for (++i; i < s.size(); ++i) {
        if (s[i] == '"') {
            ++i;
            return true;
        }
        if (s[i] == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"'))
            ++i;
        out += s[i];
    }
    return false;
}

} // namespace

std::optional<std::string> FoldRegKeyPath(std::string_view subKey)
{
    if (subKey.empty())
        return std::string();
    size_t start = 0;
    for (;;) {
        const size_t sep = subKey.find('\\', start);
        const std::string_view name =
            subKey.substr(start, sep == std::string_view::npos ? subKey.npos : sep - start);
        if (name.empty())
            return std::nullopt;
        for (char c : name)
            if (static_cast<unsigned char>(c) < 0x20)
                return std::nullopt;
        if (sep == std::string_view::npos)
            break;
        start = sep + 1;
    }
    return FoldAsciiCase(subKey);
}

namespace {

// "[HKEY_LOCAL_MACHINE\a\b]" -> folded "A\B"; nothing for other roots, deletions and
// malformed paths. As the registry editor reads it, the path ends at the last "]" of the line
// (a comment may follow) and empty names between backslashes are dropped, so "[...\\a\]" is
// "...\a".
std::optional<std::string> ParseKeyLine(std::string_view line)
{
    const size_t close = line.rfind(']');
    if (close == std::string_view::npos)
        return std::nullopt;
    const std::string_view inner = line.substr(1, close - 1);
    const size_t sep = inner.find('\\');
    if (!EqualsIgnoreAsciiCase(inner.substr(0, sep), kRegStoreRoot))
        return std::nullopt;
    std::string path;
    for (size_t start = sep; start != std::string_view::npos && start < inner.size();) {
        const size_t next = inner.find('\\', start + 1);
        const std::string_view name =
            inner.substr(start + 1, next == std::string_view::npos ? inner.npos : next - start - 1);
        if (!name.empty())
            path += (path.empty() ? "" : "\\") + std::string(name);
        start = next;
    }
    return FoldRegKeyPath(path);
}

// A ";" after the data starts a comment, as in the registry editor.
std::string_view WithoutComment(std::string_view data)
{
    return data.substr(0, data.find(';'));
}

// Nothing but blanks, or a comment, after the data.
bool IsEndOfData(std::string_view rest)
{
    rest = TrimBlanks(rest);
    return rest.empty() || rest.front() == ';';
}

bool IsHexData(std::string_view data)
{
    return StartsWithIgnoreAsciiCase(data, "hex:") || StartsWithIgnoreAsciiCase(data, "hex(");
}

bool IsStringType(uint32_t type)
{
    return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

// The data after "=": a quoted text, dword:, hex: or hex(N):.
std::optional<RegStoreValue> ParseData(std::string_view data, bool unicodeHex)
{
    RegStoreValue value{{}, kRegNone, {}};
    if (!data.empty() && data.front() == '"') {
        size_t i = 0;
        if (!ParseQuoted(data, i, value.Data) || !IsEndOfData(data.substr(i)))
            return std::nullopt;
        value.Type = kRegSz;
        value.Data += '\0'; // stored with its terminator, as an import stores it
        return value;
    }
    if (StartsWithIgnoreAsciiCase(data, "dword:")) {
        const auto number = ParseHex32(TrimBlanks(WithoutComment(data.substr(6))));
        if (!number)
            return std::nullopt;
        value.Type = kRegDword;
        for (int k = 0; k < 4; ++k)
            value.Data += static_cast<char>((*number >> (8 * k)) & 0xFF);
        return value;
    }
    std::string_view list;
    if (StartsWithIgnoreAsciiCase(data, "hex:")) {
        value.Type = kRegBinary;
        list = data.substr(4);
    } else if (StartsWithIgnoreAsciiCase(data, "hex(")) {
        const size_t close = data.find("):");
        const auto type = close == data.npos ? std::nullopt : ParseHex32(data.substr(4, close - 4));
        if (!type)
            return std::nullopt;
        value.Type = *type;
        list = data.substr(close + 2);
    } else {
        return std::nullopt;
    }
    auto bytes = ParseHexList(WithoutComment(list));
    if (!bytes)
        return std::nullopt;
    // String data is handed out as UTF-8, the logic's text, whatever the file's encoding.
    if (IsStringType(value.Type)) {
        value.Data = unicodeHex ? Utf16ToUtf8(*bytes) : ToUtf8(*bytes);
        // The import closes string data that lacks its terminator.
        if (!value.Data.empty() && value.Data.back() != '\0')
            value.Data += '\0';
    } else {
        value.Data = std::move(*bytes);
    }
    return value;
}

// Splits text into lines; CR LF, LF and a lone CR each end one.
std::vector<std::string_view> SplitLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find_first_of("\r\n", start);
        if (end == text.npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start =
            end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
    }
    return lines;
}

// Hex data goes on over the lines that follow one ending in ",\" (or "hex:\"), as the
// registry editor reads it: comments and blank lines in between are skipped, and the next
// other line is data whatever it holds, even a key line. A backslash after anything but a
// comma, or a continuation line that holds nothing but it, spoils the value; the line after
// it is then read on its own. first is the data of the value line; i moves to the last line
// taken. Comments are cut from every piece.
std::optional<std::string> JoinHexLines(const std::vector<std::string_view> &lines, size_t &i,
                                        std::string_view first)
{
    std::string joined;
    std::string_view piece = first;
    for (bool firstPiece = true;; firstPiece = false) {
        piece = TrimBlanks(WithoutComment(piece));
        if (!piece.ends_with('\\')) {
            joined += piece;
            return joined;
        }
        piece.remove_suffix(1);
        piece = TrimBlanks(piece);
        if (!(piece.ends_with(',') || (firstPiece && piece.ends_with(':'))))
            return std::nullopt;
        joined += piece;
        size_t next = i + 1;
        for (; next < lines.size(); ++next) {
            const std::string_view line = TrimBlanks(lines[next]);
            if (!line.empty() && line.front() != ';')
                break;
        }
        if (next >= lines.size()) {
            i = lines.size() - 1;
            return joined;
        }
        i = next;
        piece = lines[next];
    }
}

void AddKey(RegStore &store, const std::string &folded)
{
    store.keys.insert(folded);
    for (size_t sep = folded.rfind('\\'); sep != std::string::npos;
         sep = sep == 0 ? std::string::npos : folded.rfind('\\', sep - 1))
        store.keys.insert(folded.substr(0, sep));
    store.keys.insert(std::string());
}

void SetValue(std::vector<RegStoreValue> &values, RegStoreValue value)
{
    for (RegStoreValue &v : values) {
        if (EqualsIgnoreAsciiCase(v.Name, value.Name)) {
            v = std::move(value);
            return;
        }
    }
    values.push_back(std::move(value));
}

} // namespace

RegStore ParseRegStore(const std::string &raw)
{
    RegStore store;
    std::string_view body = raw;
    if (body.starts_with(kRegStoreUtf16Bom)) {
        store.encoding = RegStoreEncoding::Utf16Le;
        store.text = Utf16ToUtf8(body.substr(2));
    } else {
        if (body.starts_with(kRegStoreUtf8Bom))
            body.remove_prefix(3);
        store.text = std::string(body);
        if (!IsValidUtf8(store.text)) {
            store.encoding = RegStoreEncoding::Gb18030;
            store.text = ToUtf8(store.text);
        }
    }
    const size_t end = store.text.find_first_of("\r\n");
    store.eol = end == std::string::npos                  ? "\r\n"
                : store.text[end] == '\n'                 ? "\n"
                : store.text.compare(end, 2, "\r\n") == 0 ? "\r\n"
                                                          : "\r";
    store.keys.insert(std::string()); // the root exists with the store

    const std::vector<std::string_view> lines = SplitLines(store.text);
    size_t i = 0;
    bool unicodeHex = false;
    if (!lines.empty()) {
        const std::string_view first = TrimBlanks(lines[0]);
        if (first == kRegStoreHeaderV5) {
            unicodeHex = true;
            i = 1;
        } else if (first == kRegStoreHeaderV4) {
            i = 1;
        }
    }
    std::optional<std::string> current; // the key the value lines belong to, if any
    for (; i < lines.size(); ++i) {
        const std::string_view line = TrimBlanks(lines[i]);
        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            // A key line that does not parse takes its value lines with it.
            current = ParseKeyLine(line);
            if (current)
                AddKey(store, *current);
            continue;
        }
        RegStoreValue head{{}, kRegNone, {}};
        size_t pos = 0;
        if (line.front() == '@') {
            pos = 1;
        } else if (line.front() != '"' || !ParseQuoted(line, pos, head.Name)) {
            continue; // not a value line
        }
        while (pos < line.size() && IsBlank(line[pos]))
            ++pos;
        if (pos >= line.size() || line[pos] != '=')
            continue;
        std::string data(TrimBlanks(line.substr(pos + 1)));
        if (IsHexData(data)) {
            std::optional<std::string> joined = JoinHexLines(lines, i, data);
            if (!joined)
                continue;
            data = std::move(*joined);
        }
        if (!current)
            continue;
        auto value = ParseData(data, unicodeHex);
        if (!value)
            continue;
        value->Name = std::move(head.Name);
        SetValue(store.values[*current], std::move(*value));
    }
    return store;
}

} // namespace offline_upgrade
