// The file stage's rows that only Windows has: the read-only attribute.

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
    });
    SetFileAttributesW((Target() / "a.txt").wstring().c_str(), FILE_ATTRIBUTE_NORMAL);
}

} // namespace
