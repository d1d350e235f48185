#include "app/unattended.h"

#include "app/form/quiet_form.h"
#include "app/start_up.h"
#include "platform/diagnostics.h"
#include "platform/log_file.h"
#include "platform/native_path.h"
#include "platform/text.h"

#include <exception>
#include <filesystem>
#include <iostream>
#include <memory>
#include <system_error>

namespace offline_upgrade {

namespace fs = std::filesystem;

namespace {

int Code(ExitCode code)
{
    return static_cast<int>(code);
}

// The name of the package file FILE when it is a file that lies in the program folder itself;
// otherwise empty, with the reason in why.
std::string PackageNameInFolder(const std::string &programFolder, const std::string &file,
                                std::string &why)
{
    std::error_code error;
    // UTF-8 texts: a plain narrow path would be read in Windows' ANSI code page.
    const fs::path given = fs::absolute(NativePath(file), error);
    if (error) {
        why = file + ": " + error.message();
        return {};
    }
    if (!fs::is_regular_file(given, error)) {
        why = file + ": not a file";
        return {};
    }
    // The folder compared as the system resolves it: links and "..", one name for one folder.
    const fs::path folder = fs::canonical(given.parent_path(), error);
    const fs::path program = error ? fs::path() : fs::canonical(NativePath(programFolder), error);
    if (error || folder != program) {
        why = file + ": not in the program folder " + programFolder;
        return {};
    }
    return PathText(given.filename());
}

} // namespace

int RunWithoutWindow(const CommandLine &line)
{
    if (line.RunMode == CommandLine::Mode::Help) {
        std::cout << UsageText() << std::flush;
        return 0;
    }
    std::cerr << "offline-upgrade: " << EscapeControls(line.Error) << "\n\n"
              << UsageText() << std::flush;
    return Code(ExitCode::CannotStart);
}

int RefuseUnattendedStart(const std::string &why)
{
    std::cerr << "offline-upgrade: " << EscapeControls(why) << '\n';
    return Code(ExitCode::CannotStart);
}

int RunUnattendedIn(const std::string &programFolder, const CommandLine &line)
{
    try {
        UnattendedOptions options;
        options.Force = line.Force;
        if (!line.PackageFile.empty()) {
            std::string why;
            options.OnlyPackage = PackageNameInFolder(programFolder, line.PackageFile, why);
            if (options.OnlyPackage.empty()) {
                std::cerr << "offline-upgrade: --package " << EscapeControls(why) << '\n';
                LogError("unattended run refused: --package " + why);
                return Code(ExitCode::CannotStart);
            }
        }

        const StartUp start = StartIn(programFolder, StartFace::Unattended);
        if (start.Result == StartUp::Outcome::FolderBusy) {
            std::cout << kFolderBusyText << std::endl;
            return Code(ExitCode::FolderBusy);
        }
        if (start.Result != StartUp::Outcome::Started) {
            std::cerr << "offline-upgrade: cannot lock the program folder: "
                      << EscapeControls(start.Reason) << '\n';
            return Code(ExitCode::CannotStart);
        }
        const ExitCode code = RunUnattended(start.Services->Form(), options, std::cout);
        LogInfo("unattended run ends with exit code " + std::to_string(Code(code)));
        return Code(code);
    } catch (const std::exception &error) {
        // Only what happens before the logic runs can get here, such as services that cannot
        // be made.
        std::cerr << "offline-upgrade: " << EscapeControls(error.what()) << '\n';
        LogError(std::string("unattended run cannot start: ") + error.what());
        return Code(ExitCode::CannotStart);
    }
}

int WithUpgradeLog(const std::string &programFolder, const std::string &version,
                   const std::function<int()> &run)
{
    const std::unique_ptr<FileLogSink> log = OpenUpgradeLog(programFolder);
    const ScopedLogSink installed(*log);
    log->BeginSection("offline-upgrade " + version);
    LogInfo("started, version " + version);
    LogInfo("program folder: " + programFolder + " (the folder of the running program file)");
    if (!log->Path().starts_with(programFolder))
        LogWarning("the program folder cannot be written; this log is kept in " + log->Path());
    const int code = run();
    LogInfo("offline-upgrade ended");
    return code;
}

} // namespace offline_upgrade
