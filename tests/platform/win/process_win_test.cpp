// The process service against the system's processes (Wine's): a hidden start, the exact image
// name in the snapshot, the early wake, the exit code, the end of a hung archiver, and the
// scan's wait going on while a second archiver runs.
#include "platform/win/process_win.h"

#include "archiver/archiver_wait.h"
#include "platform/program_folder.h"
#include "tests/support/recording_window.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <string>

namespace offline_upgrade {

namespace {

using namespace std::chrono_literals;

// The stand-in program (sleeper.cpp) under the given file name in a folder of the test's own.
class Programs {
public:
    std::string Copy(const std::string &name)
    {
        const std::filesystem::path source =
            std::filesystem::path(GetProgramFolder()) / "kx_win_sleeper.exe";
        const std::filesystem::path target = folder_.Path() / name;
        std::filesystem::copy_file(source, target);
        return target.string();
    }
    static std::string Line(const std::string &program, int milliseconds, int code)
    {
        return "\"" + program + "\" " + std::to_string(milliseconds) + " " + std::to_string(code);
    }

private:
    TempFolder folder_;
};

TEST(WinProcesses, StartsFindsByExactImageNameAndKeepsTheExitCode)
{
    Programs programs;
    const std::string program = programs.Copy("KxSleeper.exe");
    WinProcesses processes;
    ASSERT_TRUE(processes.Start(Programs::Line(program, 400, 7)));
    EXPECT_TRUE(processes.IsProcessRunning("KxSleeper.exe"));
    EXPECT_FALSE(processes.IsProcessRunning("kxsleeper.exe")); // letter case counts
    EXPECT_FALSE(processes.IsProcessRunning("KxSleeper"));
    EXPECT_FALSE(processes.LastHasEnded());
    EXPECT_EQ(processes.LastExitCode(), std::nullopt);

    // Sleep wakes when the program ends; the whole wait would be a minute.
    processes.Sleep(60000);
    EXPECT_TRUE(processes.LastHasEnded());
    EXPECT_EQ(processes.LastExitCode(), 7);
    EXPECT_FALSE(processes.IsProcessRunning("KxSleeper.exe"));
    EXPECT_TRUE(processes.EndLast()); // already ended
}

TEST(WinProcesses, StandardErrorIsKeptForTheLastProgramOnly)
{
    Programs programs;
    const std::string program = programs.Copy("KxTalker.exe");
    WinProcesses processes;
    ASSERT_TRUE(processes.Start(Programs::Line(program, 0, 2) + " \"bad archive\""));
    processes.Sleep(60000);
    ASSERT_TRUE(processes.LastHasEnded());
    EXPECT_EQ(processes.LastErrorOutput(), "bad archive");
    // Only the last kErrorOutputLimit bytes.
    const std::string longText(IProcesses::kErrorOutputLimit + 100, 'x');
    ASSERT_TRUE(processes.Start(Programs::Line(program, 0, 2) + " " + longText + "end"));
    processes.Sleep(60000);
    ASSERT_TRUE(processes.LastHasEnded());
    const std::string kept = processes.LastErrorOutput();
    EXPECT_EQ(kept.size(), IProcesses::kErrorOutputLimit);
    EXPECT_TRUE(kept.ends_with("xend"));
    ASSERT_TRUE(processes.Start(Programs::Line(program, 0, 0)));
    processes.Sleep(60000);
    EXPECT_EQ(processes.LastErrorOutput(), "");
}

TEST(WinProcesses, EndLastEndsOnlyTheStartedProgram)
{
    Programs programs;
    const std::string program = programs.Copy("KxHung.exe");
    WinProcesses other;
    ASSERT_TRUE(other.Start(Programs::Line(program, 60000, 0)));
    WinProcesses processes;
    ASSERT_TRUE(processes.Start(Programs::Line(program, 60000, 0)));
    EXPECT_TRUE(processes.EndLast());
    EXPECT_TRUE(processes.LastHasEnded());
    EXPECT_EQ(processes.LastExitCode(), std::nullopt); // it did not end on its own
    EXPECT_FALSE(other.LastHasEnded());
    EXPECT_TRUE(processes.IsProcessRunning("KxHung.exe")); // the other one
    EXPECT_TRUE(other.EndLast());
}

TEST(WinProcesses, AFailedStartForgetsTheProgramBefore)
{
    Programs programs;
    const std::string program = programs.Copy("KxQuick.exe");
    WinProcesses processes;
    ASSERT_TRUE(processes.Start(Programs::Line(program, 0, 3)));
    EXPECT_FALSE(processes.Start("\"C:\\no such folder\\missing.exe\" x"));
    EXPECT_FALSE(processes.Start(""));
    EXPECT_FALSE(processes.LastHasEnded());
    EXPECT_EQ(processes.LastExitCode(), std::nullopt);
    EXPECT_FALSE(processes.EndLast());
}

TEST(WinProcesses, TheScanWaitGoesOnWhileASecondArchiverRuns)
{
    Programs programs;
    const std::string archiver = programs.Copy("KX_Rar.exe");
    // Another program's archiver, not the one the tool starts.
    WinProcesses others;
    ASSERT_TRUE(others.Start(Programs::Line(archiver, 600, 0)));
    WinProcesses processes;
    ASSERT_TRUE(processes.Start(Programs::Line(archiver, 0, 0)));
    RecordingWindow window;
    EXPECT_TRUE(WaitForArchiver(processes, window, 30s));
    // The wait ended only once the other archiver was gone too.
    EXPECT_TRUE(others.LastHasEnded());
    EXPECT_FALSE(processes.IsProcessRunning("KX_Rar.exe"));
}

TEST(WinProcesses, AForeignArchiverOutlivingTheLimitEndsTheScanWaitWithTrue)
{
    Programs programs;
    const std::string archiver = programs.Copy("KX_Rar.exe");
    WinProcesses others;
    ASSERT_TRUE(others.Start(Programs::Line(archiver, 60000, 0)));
    WinProcesses processes;
    ASSERT_TRUE(processes.Start(Programs::Line(archiver, 0, 0)));
    RecordingWindow window;
    // Ours ends at once; the other one runs past the limit: the package is examined.
    EXPECT_TRUE(WaitForArchiver(processes, window, 300ms));
    EXPECT_FALSE(others.LastHasEnded());
    // Ours hanging past the limit: the wait gives up.
    ASSERT_TRUE(processes.Start(Programs::Line(archiver, 60000, 0)));
    EXPECT_FALSE(WaitForArchiver(processes, window, 300ms));
    EXPECT_TRUE(processes.EndLast());
    EXPECT_TRUE(others.EndLast());
}

// Once the started program has ended, its handle is signalled for good: a sleep must still
// sleep, or the waits spin while another program of the archiver's name runs.
TEST(WinProcesses, SleepSleepsItsTimeOnceTheStartedProgramHasEnded)
{
    Programs programs;
    const std::string program = programs.Copy("KxQuick.exe");
    WinProcesses processes;
    ASSERT_TRUE(processes.Start(Programs::Line(program, 0, 0)));
    processes.Sleep(60000);
    ASSERT_TRUE(processes.LastHasEnded());
    for (int i = 0; i < 3; ++i) {
        const auto start = std::chrono::steady_clock::now();
        processes.Sleep(200);
        EXPECT_GE(std::chrono::steady_clock::now() - start, 190ms) << "sleep " << i;
    }
}

// A handle of ours that may be inherited (as the C library's files are), opened without
// sharing: once we close it, nobody may hold the file, also not the program we started.
TEST(WinProcesses, TheStartedProgramInheritsOnlyItsStandardHandles)
{
    Programs programs;
    const std::string program = programs.Copy("KxHolder.exe");
    TempFolder folder;
    const std::wstring file = (folder.Path() / "offline-upgrade.log").wstring();
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE log = CreateFileW(file.c_str(), GENERIC_WRITE, 0, &inherit, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(log, INVALID_HANDLE_VALUE);
    WinProcesses processes;
    ASSERT_TRUE(processes.Start(Programs::Line(program, 60000, 0)));
    CloseHandle(log);
    HANDLE again = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD error = GetLastError();
    EXPECT_NE(again, INVALID_HANDLE_VALUE) << "the started program holds the file: error " << error;
    if (again != INVALID_HANDLE_VALUE)
        CloseHandle(again);
    EXPECT_FALSE(processes.LastHasEnded());
    EXPECT_TRUE(processes.EndLast());
}

} // namespace

} // namespace offline_upgrade
