// The upgrade run's rows that only POSIX has: symbolic links where the run would write.

#include "upgrade/upgrade_run.h"

#include "tests/support/log_recorder.h"
#include "tests/support/upgrade_run_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace offline_upgrade {

namespace fs = std::filesystem;

namespace {

TEST_F(UpgradeRun, LinksWhereTheFilesGoStopTheRunBeforeTheFirstBlock)
{
    const fs::path outside = folder.Path() / "outside";
    fs::create_directories(outside);
    ExpectStoppedBeforeTheFirstBlock({
        {"a dangling link where the folder bin goes",
         [&] { fs::create_symlink(folder.Path() / "nowhere", folder.Path() / "product/bin"); }},
        {"a link to a folder outside where the folder bin goes",
         [&] { fs::create_directory_symlink(outside, folder.Path() / "product/bin"); }},
    });
    EXPECT_TRUE(fs::is_empty(outside));
}

TEST_F(UpgradeRun, WorkFolderThatIsALinkStopsTheRunBeforeTheUnpack)
{
    const fs::path elsewhere = folder.Path() / "elsewhere";
    fs::create_directories(elsewhere);
    fs::create_directory_symlink(elsewhere, folder.Path() / "TempUpdate");
    archiver.OnStart = [this] { UnpackGoodPackage(); };
    LogRecorder log;

    EXPECT_FALSE(Run());

    EXPECT_TRUE(archiver.Started.empty());
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"解压缩升级包文件失败！"});
    EXPECT_EQ(std::count(connection.Calls.begin(), connection.Calls.end(), "open"), 0);
    EXPECT_TRUE(fs::is_empty(elsewhere));
    EXPECT_TRUE(log.Holds("the work folder " + program + "TempUpdate is not a folder"))
        << log.Text();
}

} // namespace

} // namespace offline_upgrade
