// INI reading for POSIX: stands in for GetPrivateProfileStringA. Reads one value per call
// straight from the file; no caching, no writing, no enumeration of sections.

#include "platform/ini_file.h"

#include "platform/codepage.h"
#include "platform/posix/unique_fd.h"
#include "platform/text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string_view>
#include <vector>

namespace offline_upgrade {

namespace {

// The whole file, or nothing when it is missing, not a regular file or cannot be read.
std::optional<std::string> ReadWholeFile(const std::string &path)
{
    UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file)
        return std::nullopt;
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    std::string bytes;
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(file.get(), chunk, sizeof chunk);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        bytes.append(chunk, static_cast<size_t>(n));
    }
    return bytes;
}

// Splits off the next line. CR LF, LF and a lone CR all end a line; CR LF reads as a line end
// followed by an empty line, which is skipped like any blank line.
std::string_view NextLine(std::string_view &rest)
{
    const size_t end = std::min(rest.find_first_of("\r\n"), rest.size());
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(std::min(end + 1, rest.size()));
    return line;
}

// The blanks the Windows function skips around names and values; other control bytes, and the
// zero byte above all, are text.
bool IsIniBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view TrimIniBlanks(std::string_view s)
{
    while (!s.empty() && IsIniBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsIniBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// A name or value as the Windows function sees it: without surrounding blanks, then a C string
// that ends at its first zero byte (so blanks before that byte stay).
std::string_view Field(std::string_view raw)
{
    const std::string_view trimmed = TrimIniBlanks(raw);
    return trimmed.substr(0, trimmed.find('\0'));
}

// The file as text: UTF-16 with a byte-order mark (what Notepad saves as "Unicode") becomes
// UTF-8; a UTF-8 byte-order mark is skipped; other bytes are read by ToUtf8
// (valid UTF-8 as it is, else GB18030).
std::string DecodeFile(std::string_view bytes)
{
    if (bytes.starts_with("\xFF\xFE"))
        return Utf16ToUtf8(bytes.substr(2));
    if (bytes.starts_with("\xFE\xFF"))
        return Utf16ToUtf8(bytes.substr(2), true);
    if (bytes.starts_with("\xEF\xBB\xBF"))
        bytes.remove_prefix(3);
    return ToUtf8(std::string(bytes));
}

std::string StripMatchingQuotes(std::string value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

std::string DefaultWithoutTrailingBlanks(const std::string &defaultValue)
{
    size_t end = defaultValue.size();
    while (end > 0 && (defaultValue[end - 1] == ' ' || defaultValue[end - 1] == '\t'))
        --end;
    return defaultValue.substr(0, end);
}

// Calls onKey(name, value) for each key line of the first section named section, in file order,
// until it returns false. value is empty (nullopt) for a line without "=", a key without a
// value. False when the file cannot be read.
template <typename OnKey>
bool WalkSection(const std::string &section, const std::string &path, OnKey onKey)
{
    const std::optional<std::string> raw = ReadWholeFile(path);
    if (!raw)
        return false;

    const std::string text = DecodeFile(*raw);

    enum class Where { BeforeSection, InSection, OtherSection, PastSection };
    Where where = Where::BeforeSection;
    std::string_view rest = text;
    while (!rest.empty() && where != Where::PastSection) {
        const std::string_view line = TrimIniBlanks(NextLine(rest));
        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            const size_t close = line.rfind(']');
            if (close == std::string::npos)
                continue;
            const bool matches = EqualsIgnoreAsciiCase(Field(line.substr(1, close - 1)), section);
            // Only the first section of that name counts; once it is left the search is over.
            if (where == Where::InSection)
                where = Where::PastSection;
            else if (matches)
                where = Where::InSection;
            else
                where = Where::OtherSection;
            continue;
        }
        if (where != Where::InSection)
            continue;
        const size_t equals = line.find('=');
        std::optional<std::string> value;
        if (equals != std::string::npos)
            value = StripMatchingQuotes(std::string(Field(line.substr(equals + 1))));
        if (!onKey(std::string(Field(line.substr(0, equals))), value))
            break;
    }
    return true;
}

} // namespace

std::string ReadIniString(const std::string &section, const std::string &key,
                          const std::string &defaultValue, const std::string &path)
{
    std::optional<std::string> found;
    WalkSection(section, path, [&](const std::string &name, std::optional<std::string> &value) {
        if (!EqualsIgnoreAsciiCase(name, key))
            return true;
        // A line without "=" is a key without a value: found, it gives the default.
        found = std::move(value);
        return false;
    });
    return found ? *found : DefaultWithoutTrailingBlanks(defaultValue);
}

std::vector<std::string> ReadIniKeys(const std::string &section, const std::string &path)
{
    std::vector<std::string> keys;
    WalkSection(section, path, [&](const std::string &name, std::optional<std::string> &) {
        keys.push_back(name);
        return true;
    });
    return keys;
}

} // namespace offline_upgrade
