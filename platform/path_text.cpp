#include "platform/path_text.h"

namespace offline_upgrade {

std::string WithoutTrailingSeparators(std::string path)
{
    const size_t root = PathRootLength(path);
    while (path.size() > root && path.size() > 1 && IsPathSeparator(path.back()))
        path.pop_back();
    return path;
}

std::string ParentFolder(const std::string &path)
{
    const std::string trimmed = WithoutTrailingSeparators(path);
    const size_t root = PathRootLength(trimmed);
    if (trimmed.empty() || trimmed.size() == root)
        return {};
    size_t at = trimmed.size();
    while (at > root && !IsPathSeparator(trimmed[at - 1]))
        --at;
    if (at == 0)
        return trimmed == "." ? std::string() : ".";
    if (at == root)
        return trimmed.substr(0, root);
    // Several separators in a row stand for one.
    while (at > root && IsPathSeparator(trimmed[at - 1]))
        --at;
    return at == root ? trimmed.substr(0, root) : trimmed.substr(0, at);
}

std::string JoinPath(const std::string &folder, const std::string &name)
{
    if (folder.empty() || IsPathSeparator(folder.back()))
        return folder + name;
    return folder + PathSeparator() + name;
}

bool IsPathWithin(const std::string &path, const std::string &folder)
{
    const std::string inner = WithoutTrailingSeparators(path);
    const std::string outer = WithoutTrailingSeparators(folder);
    if (inner.size() < outer.size())
        return false;
    for (size_t i = 0; i < outer.size(); ++i) {
        const bool bothSeparate = IsPathSeparator(inner[i]) && IsPathSeparator(outer[i]);
        if (inner[i] != outer[i] && !bothSeparate)
            return false;
    }
    return inner.size() == outer.size() || IsPathSeparator(inner[outer.size()]) ||
           (!outer.empty() && IsPathSeparator(outer.back()));
}

} // namespace offline_upgrade
