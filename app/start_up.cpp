#include "app/start_up.h"

#include "platform/diagnostics.h"
#include "upgrade/upgrade_run.h"

#include <utility>

namespace offline_upgrade {

StartedServices::StartedServices(std::string programFolder, ProgramFolderLock lock)
    : ProgramFolder(std::move(programFolder)), Lock(std::move(lock)), System(MakeSystemServices())
{
}

FormServices StartedServices::Form()
{
    return FormServices{.ProgramFolder = ProgramFolder,
                        .Files = *System.Files,
                        .Processes = *System.Processes,
                        .Registry = *System.Registry,
                        .Host = *System.Host,
                        .tempConnection = Connection,
                        .ADOQuery = Query,
                        .updataExec = Command,
                        .RunUpgrade = RunUpgrade};
}

StartUp StartIn(const std::string &programFolder, StartFace face)
{
    const bool window = face == StartFace::Window;
    // One run at a time in a program folder, whichever face it has.
    ProgramFolderLock lock = ProgramFolderLock::Acquire(programFolder);
    switch (lock.Result()) {
    case ProgramFolderLock::Outcome::Busy:
        LogError((window ? "the window is refused: " : "unattended run refused: ") + lock.Reason());
        return {StartUp::Outcome::FolderBusy, lock.Reason(), nullptr};
    case ProgramFolderLock::Outcome::Failed:
        if (!window) {
            LogError("unattended run cannot lock the program folder: " + lock.Reason());
            return {StartUp::Outcome::CannotStart, lock.Reason(), nullptr};
        }
        LogWarning("the program folder is not locked: " + lock.Reason());
        break;
    case ProgramFolderLock::Outcome::Held:
        break;
    }
    return {StartUp::Outcome::Started,
            {},
            std::make_unique<StartedServices>(programFolder, std::move(lock))};
}

} // namespace offline_upgrade
