// The file stage's rows that only Windows has: backslash product folders and the read-only
// attribute.

#include "upgrade/file_update.h"

#include "tests/support/file_stage_fixture.h"
#include "upgrade/file_transaction.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

using FileUpdateWinTest = FileStageTest;

TEST_F(FileUpdateWinTest, ChecksRefuseBeforeAnythingIsWritten)
{
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
    });
    SetFileAttributesW((Target() / "a.txt").wstring().c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(FileUpdateWinTest, BackslashProductFolderWithMissingParents)
{
    MakeWorld();
    // As the registry holds it: backslashes, a trailing one, two folders still to be made.
    const std::string root = temp.Path().string() + "\\A\\B";
    parts.Product.Path = root + "\\";
    LogRecorder log;

    ASSERT_TRUE(CheckUpdateFiles(context)) << log.Text();
    ASSERT_TRUE(CopyUpdateFiles(context)) << log.Text();

    EXPECT_EQ(ReadWholeFile(root + "\\a.txt"), "new a");
    EXPECT_EQ(ReadWholeFile(root + "\\fresh\\deep\\c.txt"), "new c");
    EXPECT_EQ(files.CopiedTo.front(), root + "\\a.txt");
    // One separator between names wherever the stage wrote a path.
    EXPECT_FALSE(log.Holds("\\/")) << log.Text();
    EXPECT_FALSE(log.Holds("/\\")) << log.Text();
    EXPECT_TRUE(log.Holds(root + "\\fresh\\deep\\c.txt") || log.Holds(root + "\\a.txt"))
        << log.Text();
}

} // namespace
