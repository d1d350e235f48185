// The program folder lock on Windows, under Wine: one holder at a time, readable holder id,
// not inherited by a started program, and the places where no lock can be made.
#include "platform/program_folder_lock.h"

#include "platform/program_folder.h"
#include "platform/win/process_win.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>

namespace offline_upgrade {

namespace {

using Outcome = ProgramFolderLock::Outcome;
namespace fs = std::filesystem;

TEST(ProgramFolderLockWin, OneHolderAtATimeAndItsIdReadable)
{
    TempFolder folder;
    const std::string program = folder.Slashed();
    const std::string id = std::to_string(GetCurrentProcessId());
    {
        ProgramFolderLock first = ProgramFolderLock::Acquire(program);
        ASSERT_EQ(first.Result(), Outcome::Held) << first.Reason();
        EXPECT_EQ(first.Path(), program + "offline-upgrade.lock");
        EXPECT_EQ(ReadWholeFile(first.Path()), id + "\n"); // the lock leaves the content readable

        const ProgramFolderLock second = ProgramFolderLock::Acquire(program);
        EXPECT_EQ(second.Result(), Outcome::Busy);
        EXPECT_NE(second.Reason().find("by process " + id), std::string::npos) << second.Reason();

        ProgramFolderLock moved = std::move(first);
        EXPECT_EQ(ProgramFolderLock::Acquire(program).Result(), Outcome::Busy);
    }
    EXPECT_EQ(ProgramFolderLock::Acquire(program).Result(), Outcome::Held);
}

TEST(ProgramFolderLockWin, AStartedProgramDoesNotKeepIt)
{
    TempFolder folder;
    const std::string program = folder.Slashed();
    const std::string sleeper = GetProgramFolder() + "kx_win_sleeper.exe";
    WinProcesses processes;
    {
        const ProgramFolderLock lock = ProgramFolderLock::Acquire(program);
        ASSERT_EQ(lock.Result(), Outcome::Held) << lock.Reason();
        ASSERT_TRUE(processes.Start("\"" + sleeper + "\" 60000 0"));
    }
    EXPECT_EQ(ProgramFolderLock::Acquire(program).Result(), Outcome::Held);
    EXPECT_TRUE(processes.EndLast());
}

TEST(ProgramFolderLockWin, WhatCannotBeLockedFails)
{
    {
        TempFolder folder;
        const ProgramFolderLock lock = ProgramFolderLock::Acquire(folder.Slashed() + "missing\\");
        EXPECT_EQ(lock.Result(), Outcome::Failed);
        EXPECT_FALSE(lock.Reason().empty());
    }
    {
        TempFolder folder;
        fs::create_directories(folder.Path() / "offline-upgrade.lock");
        const ProgramFolderLock lock = ProgramFolderLock::Acquire(folder.Slashed());
        EXPECT_EQ(lock.Result(), Outcome::Failed);
        EXPECT_NE(lock.Reason().find("offline-upgrade.lock"), std::string::npos) << lock.Reason();
    }
}

} // namespace

} // namespace offline_upgrade
