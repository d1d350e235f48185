#include "platform/program_folder.h"

#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace offline_upgrade {

namespace {

// Test programs are built into tests/ beside the program folder bin/.
TEST(GetProgramFolder, IsTheFolderOfTheRunningProgramWithTrailingSeparator)
{
    const std::filesystem::path expected =
        std::filesystem::canonical(BinDir().parent_path() / "tests");
    // "/" on POSIX, "\\" on Windows.
    EXPECT_EQ(GetProgramFolder(), (expected / "").string());
}

} // namespace

} // namespace offline_upgrade
