// The file stage's rows that only POSIX has: FIFOs, symbolic links in the product folder, and
// a process killed amid the renames.

#include "upgrade/file_update.h"

#include "tests/support/file_stage_fixture.h"
#include "tests/support/killed_amid.h"
#include "upgrade/file_transaction.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>

namespace offline_upgrade {

namespace {

namespace fs = std::filesystem;

using FileUpdatePosixTest = FileStageTest;

TEST_F(FileUpdatePosixTest, ChecksRefuseBeforeAnythingIsWritten)
{
    const fs::path outside = temp.Path() / "outside";
    fs::create_directories(outside);
    // Through the calls of one path each, and through the system's own batches.
    for (const bool whole : {false, true}) {
        SCOPED_TRACE(whole ? "whole batches" : "one path each");
        files.WholeBatches = whole;
        ExpectRefusedBeforeWriting({
            {"a package entry that is no plain file",
             [&] { ASSERT_EQ(::mkfifo((Source() / "pipe").c_str(), 0644), 0); },
             Source().string() + "/pipe"},
            // Links where the stage puts new entries: each would make it fail after the blocks, or
            // write where the link leads.
            {"a dangling link where a new file goes",
             [&] { fs::create_symlink(temp.Path() / "nowhere", Target() / "z.txt"); },
             Planned("z.txt")},
            {"a dangling link where a new folder goes",
             [&] { fs::create_symlink(temp.Path() / "nowhere", Target() / "fresh"); },
             Planned("fresh")},
            {"a link to a folder outside where a new folder goes",
             [&] { fs::create_directory_symlink(outside, Target() / "fresh"); }, Planned("fresh")},
            {"a link to a folder outside where a replaced file's folder is",
             [&] {
                 fs::remove_all(temp.Path() / "outside-sub");
                 fs::rename(Target() / "sub", temp.Path() / "outside-sub");
                 fs::create_directory_symlink(temp.Path() / "outside-sub", Target() / "sub");
             },
             Planned("sub")},
            {"a dangling link among the missing parents of the product folder",
             [&] {
                 fs::remove(temp.Path() / "gone");
                 fs::create_symlink(temp.Path() / "nowhere", temp.Path() / "gone");
                 parts.Product.Path = (temp.Path() / "gone/product").string();
             },
             (temp.Path() / "gone").string()},
        });
        EXPECT_TRUE(fs::is_empty(outside));
    }
}

TEST_F(FileUpdatePosixTest, LinksInsideTheProductFolderAreFollowedAndReplacedLinksSetAside)
{
    for (const bool whole : {false, true}) {
        SCOPED_TRACE(whole ? "whole batches" : "one path each");
        files.WholeBatches = whole;
        MakeWorld();
        // "fresh" leads to a folder of the product: the new files land there.
        fs::create_directories(Target() / "real/fresh");
        fs::create_directory_symlink(Target() / "real/fresh", Target() / "fresh");
        // a.txt is a link to a file outside: the link is replaced, its target never written.
        const fs::path kept = temp.Write("elsewhere.txt", "elsewhere");
        fs::remove(Target() / "a.txt");
        fs::create_symlink(kept, Target() / "a.txt");

        LogRecorder log;
        ASSERT_TRUE(RunStage()) << log.Text();

        EXPECT_EQ(ReadWholeFile(Target() / "real/fresh/deep/c.txt"), "new c");
        EXPECT_TRUE(fs::is_symlink(Target() / "fresh"));
        EXPECT_FALSE(fs::is_symlink(Target() / "a.txt"));
        EXPECT_EQ(ReadWholeFile(Target() / "a.txt"), "new a");
        EXPECT_EQ(ReadWholeFile(kept), "elsewhere");
        EXPECT_FALSE(fs::exists(Journal()));
    }
}

TEST_F(FileUpdatePosixTest, ProcessKilledAmidTheRenamesIsRestoredAtTheNextStart)
{
    for (const bool swaps : SwapModes()) {
        files.NoExchange = !swaps;
        MakeWorld();
        const auto before = SnapshotTree(Target());
        // Stopped at the third step that moves a file (swapping: a.txt and fresh/deep/c.txt
        // are in place, sub/b.txt is not; renaming: a.txt is in place and its former version
        // aside, c.txt not yet) and killed there.
        ASSERT_TRUE(KilledAtFileMove(files, 3, [&] { (void)RunStage(); }))
            << "the stage ended before its third move; swapping: " << swaps;
        ASSERT_TRUE(fs::exists(Journal()));
        EXPECT_NE(SnapshotTree(Target()), before) << swaps; // the product is half done

        EXPECT_TRUE(RecoverFileStage(system, context.ProgramFolder, Registered())) << swaps;

        EXPECT_EQ(SnapshotTree(Target()), before) << swaps;
        EXPECT_FALSE(fs::exists(Journal())) << swaps;
    }
}

} // namespace

} // namespace offline_upgrade
