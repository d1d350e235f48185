// Replaces the module file name of Windows with the kernel's link to the running program file.
#include "platform/program_folder.h"

#include "platform/error.h"

#include <string>
#include <string_view>
#include <unistd.h>

namespace offline_upgrade {

std::string GetProgramFolder()
{
    std::string target(256, '\0');
    for (;;) {
        const ssize_t got = readlink("/proc/self/exe", target.data(), target.size());
        if (got < 0)
            throw KxError("cannot find the program file");
        // A result that fills the buffer may have been cut.
        if (static_cast<size_t>(got) < target.size()) {
            target.resize(static_cast<size_t>(got));
            break;
        }
        target.resize(target.size() * 2);
    }
    // The program file may have been replaced while it runs; its folder is still the one.
    constexpr std::string_view kDeleted = " (deleted)";
    if (target.ends_with(kDeleted))
        target.resize(target.size() - kDeleted.size());
    const size_t slash = target.rfind('/');
    if (slash == std::string::npos)
        throw KxError("cannot find the program folder");
    return target.substr(0, slash + 1);
}

} // namespace offline_upgrade
