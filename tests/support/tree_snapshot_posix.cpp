// On POSIX an entry's owner and group are part of what the file stage keeps.
#include "tests/support/tree_snapshot.h"

#include <sys/stat.h>

namespace offline_upgrade {

std::string SystemDetails(const std::filesystem::path &path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return "owner ?";
    return "owner " + std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid);
}

} // namespace offline_upgrade
