// The file stage's rows that only POSIX has: FIFOs, and a process killed amid the renames.

#include "upgrade/file_update.h"

#include "tests/support/file_stage_fixture.h"
#include "upgrade/file_transaction.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

using FileUpdatePosixTest = FileStageTest;

TEST_F(FileUpdatePosixTest, ChecksRefuseBeforeAnythingIsWritten)
{
    ExpectRefusedBeforeWriting({
        {"a package entry that is no plain file",
         [&] { ASSERT_EQ(::mkfifo((Source() / "pipe").c_str(), 0644), 0); },
         Source().string() + "/pipe"},
    });
}

TEST_F(FileUpdatePosixTest, ProcessKilledAmidTheRenamesIsRestoredAtTheNextStart)
{
    MakeWorld();
    const auto before = SnapshotTree(Target());
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The stage, stopped at its third rename (a.txt is aside, its new copy not yet in
        // place) until the parent ends the process.
        ::close(ready[0]);
        int renames = 0;
        files.BeforeOperation = [&](int, const std::string &name) {
            if (name == "RenameFile" && ++renames == 3) {
                (void)!::write(ready[1], "r", 1);
                for (;;)
                    ::pause();
            }
        };
        (void)CopyUpdateFiles(context);
        ::_exit(0);
    }
    ::close(ready[1]);
    char byte = 0;
    const bool reached = ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(reached) << "the child ended before its renames";
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_TRUE(fs::exists(Journal()));
    EXPECT_NE(SnapshotTree(Target()), before); // the product is half done

    EXPECT_TRUE(RecoverFileStage(system, context.ProgramFolder));

    EXPECT_EQ(SnapshotTree(Target()), before);
    EXPECT_FALSE(fs::exists(Journal()));
}

} // namespace
