// On Windows an entry's attributes (read-only, hidden, archive) are part of what the file
// stage keeps.
#include "tests/support/tree_snapshot.h"

#include <windows.h>

namespace offline_upgrade {

std::string SystemDetails(const std::filesystem::path &path)
{
    const DWORD attributes = GetFileAttributesW(path.wstring().c_str());
    const DWORD kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY |
                       FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT;
    return "attributes " + std::to_string(attributes & kept);
}

} // namespace offline_upgrade
