// The program folder lock: one holder at a time, released with its holder, and a lock file
// that cannot be made or is not a plain file is a failure, never a lock.

#include "platform/program_folder_lock.h"

#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>

namespace offline_upgrade {

namespace fs = std::filesystem;

namespace {

using Outcome = ProgramFolderLock::Outcome;

TEST(ProgramFolderLock, OneHolderAtATimeUntilItIsReleased)
{
    TempFolder folder;
    const std::string program = folder.Slashed();
    {
        ProgramFolderLock first = ProgramFolderLock::Acquire(program);
        ASSERT_EQ(first.Result(), Outcome::Held) << first.Reason();
        EXPECT_EQ(first.Path(), program + "offline-upgrade.lock");
        EXPECT_EQ(ReadWholeFile(first.Path()), std::to_string(::getpid()) + "\n");

        const ProgramFolderLock second = ProgramFolderLock::Acquire(program);
        EXPECT_EQ(second.Result(), Outcome::Busy);
        EXPECT_NE(second.Reason().find("by process " + std::to_string(::getpid())),
                  std::string::npos)
            << second.Reason();

        // Moved, it is still held, and released once.
        ProgramFolderLock moved = std::move(first);
        EXPECT_EQ(ProgramFolderLock::Acquire(program).Result(), Outcome::Busy);
    }
    EXPECT_EQ(ProgramFolderLock::Acquire(program).Result(), Outcome::Held);
}

// The archiver and any other program the holder starts must not keep the lock alive.
TEST(ProgramFolderLock, AChildProgramDoesNotInheritIt)
{
    TempFolder folder;
    const std::string program = folder.Slashed();
    const pid_t child = [&] {
        ProgramFolderLock lock = ProgramFolderLock::Acquire(program);
        EXPECT_EQ(lock.Result(), Outcome::Held);
        // Returns once the child runs the new program, as the holder's archiver start does.
        const char *argv[] = {"sleep", "5", nullptr};
        pid_t pid = -1;
        EXPECT_EQ(
            ::posix_spawn(&pid, "/bin/sleep", nullptr, nullptr, const_cast<char **>(argv), environ),
            0);
        return pid;
    }();
    ASSERT_GT(child, 0);
    EXPECT_EQ(ProgramFolderLock::Acquire(program).Result(), Outcome::Held);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}

TEST(ProgramFolderLock, WhatCannotBeLockedFails)
{
    struct Case {
        const char *what;
        void (*prepare)(const TempFolder &folder);
    };
    const Case cases[] = {
        {"a link in the lock file's place",
         [](const TempFolder &folder) {
             folder.Write("elsewhere.txt", "keep");
             fs::create_symlink(folder.Path() / "elsewhere.txt",
                                folder.Path() / "offline-upgrade.lock");
         }},
        {"a folder in the lock file's place",
         [](const TempFolder &folder) {
             fs::create_directories(folder.Path() / "offline-upgrade.lock");
         }},
    };
    for (const Case &c : cases) {
        TempFolder folder;
        c.prepare(folder);
        const ProgramFolderLock lock = ProgramFolderLock::Acquire(folder.Slashed());
        EXPECT_EQ(lock.Result(), Outcome::Failed) << c.what;
        EXPECT_NE(lock.Reason().find("offline-upgrade.lock"), std::string::npos)
            << c.what << ": " << lock.Reason();
    }
    TempFolder folder;
    EXPECT_EQ(ProgramFolderLock::Acquire(folder.Slashed() + "missing/").Result(), Outcome::Failed);
}

} // namespace

} // namespace offline_upgrade
