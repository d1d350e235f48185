#include "entry_name.h"

namespace kx_rar {

bool SplitEntryName(std::string_view name, std::vector<std::string> &parts, std::string &reason)
{
    parts.clear();
    if (name.empty()) {
        reason = "empty name";
        return false;
    }
    if (name[0] == '/' || name[0] == '\\') {
        reason = "absolute name";
        return false;
    }
    const auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (name.size() >= 2 && isLetter(name[0]) && name[1] == ':') {
        reason = "name with a drive letter";
        return false;
    }
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of("/\\", start);
        if (end == std::string_view::npos)
            end = name.size();
        const std::string_view part = name.substr(start, end - start);
        if (part == "..") {
            parts.clear();
            reason = "name climbing out with \"..\"";
            return false;
        }
        if (!part.empty() && part != ".")
            parts.emplace_back(part);
        start = end + 1;
    }
    return true;
}

namespace {

bool IsDeviceDigit(std::string_view digit)
{
    // The superscripts one, two and three of Latin-1, in UTF-8.
    return (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') || digit == "\xc2\xb9" ||
           digit == "\xc2\xb2" || digit == "\xc2\xb3";
}

// The device that part names for Windows, in capitals, or empty.
std::string DeviceOf(std::string_view part)
{
    // Windows drops the name's trailing dots and spaces, takes it up to its first "." and
    // drops the spaces before that.
    while (!part.empty() && (part.back() == '.' || part.back() == ' '))
        part.remove_suffix(1);
    part = part.substr(0, part.find('.'));
    while (!part.empty() && part.back() == ' ')
        part.remove_suffix(1);
    std::string base(part);
    for (char &c : base)
        c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" ||
        base == "CONOUT$")
        return base;
    if (base.size() > 3 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
        IsDeviceDigit(std::string_view(base).substr(3)))
        return base;
    return {};
}

} // namespace

std::string WindowsNameProblem(std::string_view part)
{
    if (part.find(':') != std::string_view::npos)
        return "name with \":\" (a data stream or a drive on Windows)";
    for (unsigned char c : part) {
        if (c < 0x20 ||
            std::string_view("<>\"|?*").find(static_cast<char>(c)) != std::string_view::npos)
            return "name with a character Windows forbids";
    }
    if (std::string device = DeviceOf(part); !device.empty())
        return "name of a Windows device (" + device + ")";
    if (!part.empty() && (part.back() == '.' || part.back() == ' '))
        return "name ending in \".\" or a space (Windows drops them)";
    return {};
}

size_t TextLength(std::string_view text, LengthUnit unit)
{
    if (unit == LengthUnit::Bytes)
        return text.size();
    size_t units = 0;
    for (unsigned char c : text) {
        // A lead byte starts a character: four-byte sequences are the characters past U+FFFF.
        if ((c & 0xc0) != 0x80)
            units += c >= 0xf0 ? 2 : 1;
    }
    return units;
}

namespace {

std::string Count(size_t length, LengthUnit unit)
{
    return std::to_string(length) + (unit == LengthUnit::Bytes ? " bytes" : " UTF-16 units");
}

} // namespace

std::string NameLengthProblem(std::string_view part, LengthUnit unit)
{
    const size_t length = TextLength(part, unit);
    if (length <= kMaxNameLength)
        return {};
    return "name of " + Count(length, unit) + ", longer than the " + Count(kMaxNameLength, unit) +
           " a file system takes";
}

std::string PathLengthProblem(std::string_view target, std::string_view path, LengthUnit unit)
{
    const size_t length = TextLength(target, unit) + 1 + TextLength(path, unit);
    if (length <= kMaxPathLength)
        return {};
    return "path of " + Count(length, unit) + " with the target folder, longer than the " +
           Count(kMaxPathLength, unit) + " allowed";
}

void PathClashFinder::Add(const std::vector<std::string> &parts, bool isFile)
{
    std::string path;
    for (size_t i = 0; i < parts.size(); ++i) {
        path += (i > 0 ? "/" : "") + parts[i];
        const std::string key = key_ ? key_(path) : path;
        shown_.emplace(key, path);
        if (isFile && i + 1 == parts.size())
            files_.insert(key);
        else
            folders_.insert(key);
    }
}

std::vector<std::string> PathClashFinder::Clashes() const
{
    std::vector<std::string> clashes;
    for (const std::string &file : files_) {
        if (folders_.count(file))
            clashes.push_back(shown_.at(file));
    }
    return clashes;
}

} // namespace kx_rar
