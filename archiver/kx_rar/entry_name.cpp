#include "entry_name.h"

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

std::string WindowsNameProblem(std::string_view part)
{
    if (part.find(':') != std::string_view::npos)
        return "name with \":\" (a data stream or a drive on Windows)";
    for (unsigned char c : part) {
        if (c < 0x20 || std::string_view("<>\"|?*").find(static_cast<char>(c)) !=
                            std::string_view::npos)
            return "name with a character Windows forbids";
    }
    if (!part.empty() && (part.back() == '.' || part.back() == ' '))
        return "name ending in \".\" or a space (Windows drops them)";
    // The device names hold with any extension, and with spaces before it.
    std::string base(part.substr(0, part.find('.')));
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    for (char &c : base)
        c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    const bool numbered = base.size() == 4 && (base.compare(0, 3, "COM") == 0 ||
                                               base.compare(0, 3, "LPT") == 0) &&
                          base[3] >= '1' && base[3] <= '9';
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || numbered)
        return "name of a Windows device (" + base + ")";
    return {};
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
