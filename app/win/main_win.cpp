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

int main()
{
    const CommandLine line = ParseCommandLine(ProgramArguments(0, nullptr));
    if (line.RunMode != CommandLine::Mode::Window)
        ConnectStandardOutput(kConsoleTwin);
    if (line.RunMode == CommandLine::Mode::Unattended) {
        std::string programFolder;
        try {
            programFolder = GetProgramFolder();
        } catch (const std::exception &error) {
            return RefuseUnattendedStart(error.what());
        }
        return WithUpgradeLog(programFolder, KX_VERSION,
                              [&] { return RunUnattendedIn(programFolder, line); });
    }
    if (line.RunMode != CommandLine::Mode::Window)
        return RunWithoutWindow(line);
    try {
        const std::string programFolder = GetProgramFolder();
        return WithUpgradeLog(programFolder, KX_VERSION, [&] { return Run(programFolder); });
    } catch (const std::exception &error) {
        // Only what happens before the window exists can get here.
        Win32MessagePresenter().Show(nullptr, error.what(), kApplicationTitle, MessageIcon::Error);
        return 1;
    }
}
