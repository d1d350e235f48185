// What the program folder lock does the same on every system: owning its handle, and reading
// the holder's id that a held lock writes into its file.

#include "platform/program_folder_lock.h"

#include <string>
#include <utility>

namespace offline_upgrade {

std::string ProgramFolderLock::HolderIdFromText(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    // Anything but a plain number was not written by a holder: say nothing rather than echo it.
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return {};
    return text;
}

ProgramFolderLock::ProgramFolderLock(Outcome result, std::string path, std::string reason,
                                     long handle)
    : result_(result), path_(std::move(path)), reason_(std::move(reason)), handle_(handle)
{
}

ProgramFolderLock::ProgramFolderLock(ProgramFolderLock &&other) noexcept
    : result_(other.result_), path_(std::move(other.path_)), reason_(std::move(other.reason_)),
      handle_(std::exchange(other.handle_, -1))
{
}

ProgramFolderLock &ProgramFolderLock::operator=(ProgramFolderLock &&other) noexcept
{
    if (this != &other) {
        Release();
        result_ = other.result_;
        path_ = std::move(other.path_);
        reason_ = std::move(other.reason_);
        handle_ = std::exchange(other.handle_, -1);
    }
    return *this;
}

ProgramFolderLock::~ProgramFolderLock()
{
    Release();
}

} // namespace offline_upgrade
