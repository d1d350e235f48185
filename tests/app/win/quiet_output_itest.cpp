// The Windows program without a window (--help, --unattended) is a windows-subsystem program:
// its lines must still reach whoever started it. Started here as a deployment engine starts
// it, with its standard output and error handed over as a file or a pipe, and as one starts it
// from a console window, in an empty program folder of its own.

#include "platform/win/wide.h"
#include "tests/support/run_test_again_win.h"
#include "tests/support/temp_folder.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace offline_upgrade {

namespace {

namespace fs = std::filesystem;

// offline-upgrade.exe of this build (bin/ beside tests/), copied into folder (below it, in
// subfolder, when one is named).
fs::path ProgramIn(const TempFolder &folder, const std::wstring &subfolder = {})
{
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const fs::path built =
        fs::path(self).parent_path().parent_path() / "bin" / "offline-upgrade.exe";
    const fs::path place = subfolder.empty() ? folder.Path() : folder.Path() / subfolder;
    fs::create_directories(place);
    const fs::path copy = place / "offline-upgrade.exe";
    fs::copy_file(built, copy, fs::copy_options::overwrite_existing);
    return copy;
}

struct Outcome {
    DWORD ExitCode = static_cast<DWORD>(-1);
    std::string Out;
    std::string Error;
};

// Reads what is in a pipe now (the writer has ended).
std::string Drain(HANDLE pipe)
{
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0)
        text.append(buffer, got);
    return text;
}

enum class Sink { File, Pipe };

// Starts program with arguments, its standard output and error going to two sinks of the kind
// given, waits for it and collects both.
Outcome RunWithSinks(const fs::path &program, const std::wstring &arguments, Sink sink,
                     const TempFolder &folder)
{
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE outRead = nullptr, outWrite = nullptr, errorRead = nullptr, errorWrite = nullptr;
    const fs::path outFile = folder.Path() / "out.txt", errorFile = folder.Path() / "error.txt";
    if (sink == Sink::Pipe) {
        // Big enough for everything the program writes here, read after it ends.
        CreatePipe(&outRead, &outWrite, &inherit, 1 << 16);
        CreatePipe(&errorRead, &errorWrite, &inherit, 1 << 16);
    } else {
        outWrite = CreateFileW(outFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                               CREATE_ALWAYS, 0, nullptr);
        errorWrite = CreateFileW(errorFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                 CREATE_ALWAYS, 0, nullptr);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = outWrite;
    startup.hStdError = errorWrite;
    std::wstring line = L"\"" + program.wstring() + L"\" " + arguments;
    PROCESS_INFORMATION process{};
    Outcome outcome;
    const BOOL started = CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0,
                                        nullptr, folder.Path().c_str(), &startup, &process);
    CloseHandle(outWrite);
    CloseHandle(errorWrite);
    EXPECT_TRUE(started) << LastErrorText();
    if (started) {
        EXPECT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
        GetExitCodeProcess(process.hProcess, &outcome.ExitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    if (sink == Sink::Pipe) {
        outcome.Out = Drain(outRead);
        outcome.Error = Drain(errorRead);
        CloseHandle(outRead);
        CloseHandle(errorRead);
    } else {
        outcome.Out = ReadWholeFile(outFile);
        outcome.Error = ReadWholeFile(errorFile);
    }
    return outcome;
}

// The last line of a text, without its line end.
std::string LastLine(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    const size_t start = text.rfind('\n');
    return start == std::string::npos ? text : text.substr(start + 1);
}

TEST(QuietOutput, ReachesTheFilesAndPipesTheCallerHandsOver)
{
    struct Case {
        const wchar_t *Arguments;
        DWORD ExitCode;
        const char *OutStart;    // nullptr: nothing on standard output
        const char *OutLastLine; // nullptr: not checked
        const char *ErrorStart;  // nullptr: nothing on standard error
    };
    const Case cases[] = {
        {L"--help", 0, "usage: offline-upgrade", nullptr, nullptr},
        // No package in the folder: the quiet mode's "nothing done".
        {L"--unattended", 1, nullptr, "未找到有效的升级包文件！", nullptr},
        {L"--no-such-option", 3, nullptr, nullptr, "offline-upgrade: "},
    };
    for (const Sink sink : {Sink::File, Sink::Pipe}) {
        for (const Case &c : cases) {
            SCOPED_TRACE(Narrow(c.Arguments) +
                         (sink == Sink::File ? " into files" : " into pipes"));
            TempFolder folder;
            const Outcome outcome = RunWithSinks(ProgramIn(folder), c.Arguments, sink, folder);
            EXPECT_EQ(outcome.ExitCode, c.ExitCode);
            if (c.OutStart) {
                EXPECT_EQ(outcome.Out.rfind(c.OutStart, 0), 0u) << outcome.Out;
            }
            if (c.OutLastLine) {
                EXPECT_EQ(LastLine(outcome.Out), c.OutLastLine) << outcome.Out;
            }
            if (!c.OutStart && !c.OutLastLine) {
                EXPECT_EQ(outcome.Out, "");
            }
            if (c.ErrorStart) {
                EXPECT_EQ(outcome.Error.rfind(c.ErrorStart, 0), 0u) << outcome.Error;
            } else {
                EXPECT_EQ(outcome.Error, "");
            }
        }
    }
}

// --package FILE on Chinese names: the file and the program folder as the user typed them
// (relative to the current folder, which is the temporary folder, or absolute). A file that
// is no package fits nothing (exit 1); one outside the program folder is refused (exit 3).
TEST(QuietOutput, PackageOptionTakesChineseFileAndFolderNames)
{
    struct Case {
        const wchar_t *Folder; // of the program, below the temporary folder
        const wchar_t *File;   // made below the temporary folder
        const wchar_t *Given;  // to --package; nullptr: the absolute path of File
        DWORD ExitCode;
    };
    const Case cases[] = {
        {L"", L"升级包_1.2.zip", L"升级包_1.2.zip", 1},
        {L"升级程序", L"升级程序\\demo_1.2.zip", nullptr, 1},
        {L"升级程序", L"升级程序\\演示_1.2.zip", L"升级程序\\演示_1.2.zip", 1},
        {L"升级程序", L"升级程序\\演示_1.2.zip", nullptr, 1},
        {L"升级程序", L"其他\\演示_1.2.zip", nullptr, 3},
        {L"升级程序", L"升级程序\\没有.zip", L"升级程序\\不在这里.zip", 3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(Narrow(c.File));
        TempFolder folder;
        const fs::path program = ProgramIn(folder, c.Folder);
        const fs::path file = folder.Path() / c.File;
        fs::create_directories(file.parent_path());
        std::ofstream(file) << "not an archive";
        const std::wstring given = c.Given ? c.Given : file.wstring();
        const Outcome outcome =
            RunWithSinks(program, L"--unattended --package \"" + given + L"\"", Sink::File, folder);
        EXPECT_EQ(outcome.ExitCode, c.ExitCode) << outcome.Out << outcome.Error;
        if (c.ExitCode == 1) {
            EXPECT_EQ(LastLine(outcome.Out), "未找到有效的升级包文件！") << outcome.Out;
            EXPECT_EQ(outcome.Error, "");
        } else {
            EXPECT_EQ(outcome.Error.rfind("offline-upgrade: --package ", 0), 0u) << outcome.Error;
        }
    }
}

// Runs a command line (cmd.exe ...) in folder and returns its exit code.
DWORD RunCommand(std::wstring line, const TempFolder &folder)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    // A console of its own, as a prompt has: its code page is what "chcp" sets.
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr,
                        folder.Path().c_str(), &startup, &process)) {
        ADD_FAILURE() << "cannot start: " << LastErrorText();
        return static_cast<DWORD>(-1);
    }
    DWORD code = static_cast<DWORD>(-1);
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

// The console twin: "offline-upgrade" without its extension, from cmd /c and from a .bat,
// is waited for and hands over its exit code; its redirected lines are in the console's code
// page (936 here), which "type" in that console shows.
TEST(QuietOutput, APromptAndABatchFileWaitForTheConsoleTwin)
{
    TempFolder folder;
    const fs::path program = ProgramIn(folder);
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    fs::copy_file(fs::path(self).parent_path().parent_path() / "bin" / "offline-upgrade.com",
                  program.parent_path() / "offline-upgrade.com",
                  fs::copy_options::overwrite_existing);
    const struct {
        const wchar_t *arguments;
        DWORD code;
    } cases[] = {{L"--unattended", 1}, {L"--no-such-option", 3}, {L"--help", 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(Narrow(c.arguments));
        EXPECT_EQ(
            RunCommand(L"cmd.exe /c offline-upgrade " + std::wstring(c.arguments) + L" > nul 2>&1",
                       folder),
            c.code);
        // The code as a .bat sees it, the line after.
        std::ofstream(folder.Path() / "run.bat")
            << "@echo off\r\nchcp 936 > nul\r\noffline-upgrade " << Narrow(c.arguments)
            << " > out.txt 2> error.txt\r\n> code.txt echo %ERRORLEVEL%\r\n";
        EXPECT_EQ(RunCommand(L"cmd.exe /c run.bat", folder), c.code);
        EXPECT_EQ(ReadWholeFile(folder.Path() / "code.txt"), std::to_string(c.code) + "\r\n");
    }
    // "未找到有效的升级包文件！" in code page 936.
    std::ofstream(folder.Path() / "run.bat")
        << "@echo off\r\nchcp 936 > nul\r\noffline-upgrade --unattended > out.txt\r\n";
    EXPECT_EQ(RunCommand(L"cmd.exe /c run.bat", folder), 1u);
    const std::string out = ReadWholeFile(folder.Path() / "out.txt");
    const std::string inCodePage936 =
        "\xce\xb4\xd5\xd2\xb5\xbd\xd3\xd0\xd0\xa7\xb5\xc4\xc9\xfd\xbc\xb6\xb0\xfc\xce\xc4"
        "\xbc\xfe\xa3\xa1\n";
    EXPECT_TRUE(out.ends_with(inCodePage936)) << out;
}

// What a console window shows, row by row with the blanks at the right cut off.
std::string ConsoleText(HANDLE console)
{
    CONSOLE_SCREEN_BUFFER_INFO info{};
    GetConsoleScreenBufferInfo(console, &info);
    std::wstring text;
    for (SHORT row = 0; row <= info.dwCursorPosition.Y; ++row) {
        std::wstring line(static_cast<size_t>(info.dwSize.X), L' ');
        DWORD got = 0;
        ReadConsoleOutputCharacterW(console, line.data(), static_cast<DWORD>(line.size()),
                                    COORD{0, row}, &got);
        line.resize(got);
        while (!line.empty() && line.back() == L' ')
            line.pop_back();
        text += line + L"\n";
    }
    return Narrow(text);
}

void ClearConsole(HANDLE console)
{
    CONSOLE_SCREEN_BUFFER_INFO info{};
    GetConsoleScreenBufferInfo(console, &info);
    DWORD written = 0;
    FillConsoleOutputCharacterW(console, L' ', static_cast<DWORD>(info.dwSize.X * info.dwSize.Y),
                                COORD{0, 0}, &written);
    SetConsoleCursorPosition(console, COORD{0, 0});
}

TEST(QuietOutput, ReachesTheConsoleItWasStartedFrom)
{
    if (!std::getenv("KX_CONSOLE_CHILD")) {
        // In a process of its own, which can give up its console for a new one.
        EXPECT_EQ(RunThisTestAgain(L"QuietOutput.ReachesTheConsoleItWasStartedFrom",
                                   L"KX_CONSOLE_CHILD", L"1", true),
                  0);
        return;
    }
    // A console window of our own, as cmd.exe has, whose text can be read back.
    FreeConsole();
    ASSERT_TRUE(AllocConsole()) << LastErrorText();
    HANDLE console =
        CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(console, INVALID_HANDLE_VALUE);
    TempFolder folder;
    const fs::path program = ProgramIn(folder);
    struct Case {
        const wchar_t *Arguments;
        DWORD ExitCode;
        const char *Shown;
    };
    const Case cases[] = {
        {L"--help", 0, "usage: offline-upgrade"},
        {L"--unattended", 1, "未找到有效的升级包文件！"},
        {L"--no-such-option", 3, "offline-upgrade: unknown argument: --no-such-option"},
    };
    // Windows hands a windows-subsystem program no standard handles (Wine hands it the
    // console's): both ways, the lines must show in the console.
    for (const bool handles : {false, true}) {
        for (const Case &c : cases) {
            SCOPED_TRACE(Narrow(c.Arguments) + (handles ? " with" : " without") + " handles");
            ClearConsole(console);
            STARTUPINFOW startup{};
            startup.cb = sizeof(startup);
            if (!handles)
                startup.dwFlags = STARTF_USESTDHANDLES; // all three none
            std::wstring line = L"\"" + program.wstring() + L"\" " + c.Arguments;
            PROCESS_INFORMATION process{};
            ASSERT_TRUE(CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0,
                                       nullptr, folder.Path().c_str(), &startup, &process))
                << LastErrorText();
            DWORD code = static_cast<DWORD>(-1);
            EXPECT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
            GetExitCodeProcess(process.hProcess, &code);
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
            EXPECT_EQ(code, c.ExitCode);
            const std::string shown = ConsoleText(console);
            EXPECT_NE(shown.find(c.Shown), std::string::npos) << shown;
        }
    }
    CloseHandle(console);
}

} // namespace

} // namespace offline_upgrade
