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

void PathClashFinder::Add(const std::vector<std::string> &parts, bool isFile)
{
    std::string path;
    for (size_t i = 0; i < parts.size(); ++i) {
        path += (i > 0 ? "/" : "") + parts[i];
        if (isFile && i + 1 == parts.size())
            files_.insert(path);
        else
            folders_.insert(path);
    }
}

std::vector<std::string> PathClashFinder::Clashes() const
{
    std::vector<std::string> clashes;
    for (const std::string &file : files_) {
        if (folders_.count(file))
            clashes.push_back(file);
    }
    return clashes;
}
