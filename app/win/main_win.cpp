// Program start on Windows: the upgrade log, the window with the services of the one start
// (app/start_up.h), the first scan, then the message loop until the window is closed. With
// arguments (--unattended, --help) the program runs without a window, as on Linux, its lines
// going to the caller's redirected output or console.

#include "app/start_up.h"
#include "app/unattended.h"
#include "app/win/standard_output.h"
#include "app/win/u_main_win.h"
#include "platform/console.h"
#include "platform/diagnostics.h"
#include "platform/log_file.h"
#include "platform/program_folder.h"
#include "platform/win/wide.h"

#include <windows.h>

#include <objbase.h>

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace offline_upgrade {

namespace {

// The console twin, offline-upgrade.com, writes redirected lines in its console's code page.
#ifdef KX_CONSOLE_TWIN
constexpr bool kConsoleTwin = true;
#else
constexpr bool kConsoleTwin = false;
#endif

// COM for the window's one thread, a single-threaded apartment, as long as the window runs: the
// accessibility service hands the controls' accessible objects to its clients through it.
class ComApartment {
public:
    ComApartment() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))
    {
        if (FAILED(result_))
            LogWarning("COM is not initialised (" +
                       SystemErrorText(static_cast<unsigned long>(result_)) +
                       "): screen readers may not read the window");
    }
    ~ComApartment()
    {
        if (SUCCEEDED(result_))
            CoUninitialize();
    }
    ComApartment(const ComApartment &) = delete;
    ComApartment &operator=(const ComApartment &) = delete;

private:
    HRESULT result_;
};

int Run(const std::string &programFolder)
{
    const ComApartment com;
    Win32MessagePresenter messages;
    const StartUp start = StartIn(programFolder, StartFace::Window);
    if (start.Result != StartUp::Outcome::Started) {
        messages.Show(nullptr, kFolderBusyText, kNoticeCaption, MessageIcon::Error);
        return static_cast<int>(ExitCode::FolderBusy);
    }
    TForm1 form(start.Services->Form(), messages);
    form.FormCreate();
    return form.Run();
}

} // namespace

} // namespace offline_upgrade

int main()
{
    using offline_upgrade::CommandLine;
    const CommandLine line =
        offline_upgrade::ParseCommandLine(offline_upgrade::ProgramArguments(0, nullptr));
    if (line.RunMode != CommandLine::Mode::Window)
        offline_upgrade::ConnectStandardOutput(offline_upgrade::kConsoleTwin);
    if (line.RunMode == CommandLine::Mode::Unattended) {
        std::string programFolder;
        try {
            programFolder = offline_upgrade::GetProgramFolder();
        } catch (const std::exception &error) {
            return offline_upgrade::RefuseUnattendedStart(error.what());
        }
        return offline_upgrade::WithUpgradeLog(programFolder, KX_VERSION, [&] {
            return offline_upgrade::RunUnattendedIn(programFolder, line);
        });
    }
    if (line.RunMode != CommandLine::Mode::Window)
        return offline_upgrade::RunWithoutWindow(line);
    try {
        const std::string programFolder = offline_upgrade::GetProgramFolder();
        return offline_upgrade::WithUpgradeLog(programFolder, KX_VERSION,
                                               [&] { return offline_upgrade::Run(programFolder); });
    } catch (const std::exception &error) {
        // Only what happens before the window exists can get here.
        offline_upgrade::Win32MessagePresenter().Show(nullptr, error.what(),
                                                      offline_upgrade::kApplicationTitle,
                                                      offline_upgrade::MessageIcon::Error);
        return 1;
    }
}
