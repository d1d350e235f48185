// The upgrade run's rows that only Windows has: a product file in use by another program.

#include "upgrade/upgrade_run.h"

#include "tests/support/held_file_win.h"
#include "tests/support/log_recorder.h"
#include "tests/support/upgrade_run_fixture.h"

#include <gtest/gtest.h>

#include <memory>

namespace offline_upgrade {

namespace {

TEST_F(UpgradeRun, FileInUseWithoutDeleteSharingStopsTheRunBeforeTheFirstBlock)
{
    std::unique_ptr<HeldFile> held;
    LogRecorder log;
    ExpectStoppedBeforeTheFirstBlock({
        {"bin/app.txt held open for reading and writing, without delete sharing",
         [&] {
             folder.Write("product/bin/app.txt", "old");
             held = std::make_unique<HeldFile>(folder.Path() / "product/bin/app.txt",
                                               FILE_SHARE_READ | FILE_SHARE_WRITE);
             ASSERT_TRUE(held->Held());
         }},
    });
    held.reset();
    EXPECT_EQ(ReadWholeFile(folder.Path() / "product/bin/app.txt"), "old");
    EXPECT_TRUE(log.Holds("product\\bin\\app.txt cannot be set aside: another program holds it "
                          "open without delete sharing"))
        << log.Text();
}

} // namespace

} // namespace offline_upgrade
