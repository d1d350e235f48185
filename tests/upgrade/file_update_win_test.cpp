// The file stage's rows that only Windows has: backslash product folders, the read-only
// attribute, files in use, and paths past MAX_PATH.

#include "upgrade/file_update.h"

#include "tests/support/file_stage_fixture.h"
#include "tests/support/held_file_win.h"
#include "upgrade/file_transaction.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <memory>
#include <string>

namespace offline_upgrade {

namespace {

namespace fs = std::filesystem;

using FileUpdateWinTest = FileStageTest;

TEST_F(FileUpdateWinTest, ChecksRefuseBeforeAnythingIsWritten)
{
    std::unique_ptr<HeldFile> held;
    ExpectRefusedBeforeWriting({
        {"a read-only file",
         [&] {
             SetFileAttributesW((Target() / "a.txt").wstring().c_str(), FILE_ATTRIBUTE_READONLY);
         },
         Planned("a.txt")},
        {"missing parents of a backslash product folder that may not be made",
         [&] {
             parts.Product.Path = temp.Path().string() + "\\A\\B\\";
             files.Refused = {temp.Path().string()};
         },
         "folders may not be created in " + temp.Path().string()},
        // Held open last: the next case's world could not be made around it.
        {"a file held open without delete sharing",
         [&] {
             held = std::make_unique<HeldFile>(Target() / "sub/b.txt",
                                               FILE_SHARE_READ | FILE_SHARE_WRITE);
             ASSERT_TRUE(held->Held());
         },
         Planned("sub\\b.txt") + " cannot be set aside: another program holds it open"},
    });
    held.reset();
    SetFileAttributesW((Target() / "a.txt").wstring().c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(FileUpdateWinTest, FileOpenWithDeleteSharingIsReplaced)
{
    // As a running program's file: it may be set aside while it is open.
    MakeWorld();
    HeldFile held(Target() / "sub/b.txt", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    ASSERT_TRUE(held.Held());
    LogRecorder log;
    EXPECT_TRUE(RunStage()) << log.Text();
    EXPECT_EQ(ReadWholeFile(Target() / "sub/b.txt"), "new b");
}

TEST_F(FileUpdateWinTest, BackslashProductFolderWithMissingParents)
{
    MakeWorld();
    // As the registry holds it: backslashes, a trailing one, two folders still to be made.
    const std::string root = temp.Path().string() + "\\A\\B";
    parts.Product.Path = root + "\\";
    LogRecorder log;

    ASSERT_TRUE(CheckUpdateFiles(context)) << log.Text();
    ASSERT_TRUE(RunStage()) << log.Text();

    EXPECT_EQ(ReadWholeFile(root + "\\a.txt"), "new a");
    EXPECT_EQ(ReadWholeFile(root + "\\fresh\\deep\\c.txt"), "new c");
    EXPECT_EQ(files.CopiedTo.front(), root + "\\a.txt");
    // One separator between names wherever the stage wrote a path.
    EXPECT_FALSE(log.Holds("\\/")) << log.Text();
    EXPECT_FALSE(log.Holds("/\\")) << log.Text();
}

TEST_F(FileUpdateWinTest, DeepProductFolderPastMaxPath)
{
    MakeWorld();
    std::string root = temp.Path().string();
    while (root.size() < 330)
        root += "\\folder-of-a-deep-product";
    parts.Product.Path = root;
    LogRecorder log;

    ASSERT_TRUE(CheckUpdateFiles(context)) << log.Text();
    ASSERT_TRUE(RunStage()) << log.Text();
    std::string bytes;
    EXPECT_TRUE(system.ReadFile(root + "\\fresh\\deep\\c.txt", bytes)) << log.Text();
    EXPECT_EQ(bytes, "new c");

    // Again over what it wrote: every file replaced, nothing left beside them.
    WriteSource("a.txt", "newer a");
    ASSERT_TRUE(RunStage()) << log.Text();
    EXPECT_TRUE(system.ReadFile(root + "\\a.txt", bytes));
    EXPECT_EQ(bytes, "newer a");
    std::vector<FolderEntry> entries;
    ASSERT_TRUE(system.ListFolder(root, "*.*", entries));
    for (const FolderEntry &entry : entries)
        EXPECT_NE(entry.Name.rfind(".kx", 0), 0u) << entry.Name;
    EXPECT_TRUE(system.RemoveTree(temp.Path().string() + "\\folder-of-a-deep-product"));
}

} // namespace

} // namespace offline_upgrade
