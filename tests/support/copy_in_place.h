#pragma once
// A copy put in place as the file stage puts one: refused where the target may not be
// replaced, written beside the target (CopyFileBeside) and renamed over it. For the tables of
// the copy's rule, which hold for every copy the stage makes.

#include "platform/file_system.h"
#include "platform/path_text.h"

#include <string>

namespace offline_upgrade {

inline bool CopyInPlace(IFileSystem &files, const std::string &source, const std::string &dest)
{
    if (files.KindOf(dest) != EntryKind::Missing && !files.MayReplaceFile(dest))
        return false;
    const std::string temp = JoinPath(ParentFolder(dest), ".kxtest-copy");
    if (!files.CopyFileBeside(source, dest, temp))
        return false;
    if (files.RenameFile(temp, dest, true))
        return true;
    static_cast<void>(files.RemoveFile(temp));
    return false;
}

} // namespace offline_upgrade
