// The whole upgrade through the main window, as a user runs it: packages made with the real
// archiver in a temporary program folder, a private registry store, the real scan, the real
// ODBC objects against the private database server, and the real file update. Each case has a
// database of its own, so runs never depend on each other.

#include "tests/app/upgrade_world.h"

#include "platform/odbc/odbc_data_access.h"
#include "platform/posix/file_system_posix.h"
#include "platform/posix/process_posix.h"
#include "platform/posix/registry_posix.h"
#include "product/secretkey.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_database.h"
#include "tests/support/unprivileged.h"
#include "upgrade/upgrade_run.h"

#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

class UpgradeEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() { drivers_ = new DriverList; }
    static void TearDownTestSuite()
    {
        delete drivers_;
        drivers_ = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(TestDatabaseReady());
        startDir_ = fs::current_path();
    }
    void TearDown() override { EXPECT_EQ(fs::current_path(), startDir_); }

    static DriverList *drivers_;
    fs::path startDir_;
};
DriverList *UpgradeEndToEnd::drivers_ = nullptr;

TEST_F(UpgradeEndToEnd, OutcomesOfOnePress)
{
    const std::string success = "升级成功！";
    const std::string failure = "升级失败！";
    const std::string unpackFailure = "解压缩升级包文件失败！";
    const std::string applied = "升级,5.2";
    // What stands at the product's readme.txt before the upgrade.
    enum class Readme { File, ReadOnly, Folder };
    struct Case {
        const char *what;
        const char *serverName; // "localhost" is this machine; "127.0.0.1" is not to the window
        PackageSpec package;
        Readme readme;
        std::vector<std::string> messages;
        const char *lastStep; // nullptr: not checked
        std::string rows;
        ProductFiles files;
    };
    const auto damaged = [] {
        PackageSpec recipe;
        recipe.Damaged = true;
        return recipe;
    };
    const auto wrongPassword = [] {
        PackageSpec recipe;
        recipe.Password = "xr353";
        return recipe;
    };
    const auto failingBlock = [] {
        PackageSpec recipe;
        recipe.Script = kFailingScript;
        return recipe;
    };
    const auto renamed = [] {
        PackageSpec recipe;
        recipe.FileName = "demo_5.2 (1).zip"; // as a browser names a second download
        return recipe;
    };
    const auto byKxpack = [] {
        PackageSpec recipe;
        recipe.ByKxpack = true;
        return recipe;
    };
    const auto holding = [](Content content) {
        PackageSpec recipe;
        recipe.Holds = content;
        return recipe;
    };
    const Case cases[] = {
        {"local server",
         "localhost",
         {},
         Readme::File,
         {success},
         "更新文件完成",
         applied,
         kNewFiles},
        {"remote server",
         "127.0.0.1",
         {},
         Readme::File,
         {success},
         "更新文件完成",
         kNoTable,
         kNewFiles},
        {"damaged package",
         "localhost",
         damaged(),
         Readme::File,
         {unpackFailure, failure},
         "正在解压缩升级包文件...",
         kNoTable,
         kOldFiles},
        {"wrong package password",
         "localhost",
         wrongPassword(),
         Readme::File,
         {unpackFailure, failure},
         "正在解压缩升级包文件...",
         kNoTable,
         kOldFiles},
        {"failing block",
         "localhost",
         failingBlock(),
         Readme::File,
         {"执行升级脚本失败(broken)！", failure},
         nullptr,
         applied,
         kOldFiles},
        // Root may replace a file without write bits, as cp does; it stays read-only.
        {"read-only target file",
         "localhost",
         {},
         Readme::ReadOnly,
         {success},
         "更新文件完成",
         applied,
         kNewFiles},
        {"target file is a folder",
         "localhost",
         {},
         Readme::Folder,
         {failure},
         "更新文件失败",
         applied,
         {kNewFiles.AppConf, kFolder}},
        // The content sits under demo_5.2/, not under the file's own name: nothing would be
        // applied, so the unpack has failed.
        {"renamed package",
         "localhost",
         renamed(),
         Readme::File,
         {unpackFailure, failure},
         "正在解压缩升级包文件...",
         kNoTable,
         kOldFiles},
        {"package without entries",
         "localhost",
         holding(Content::Nothing),
         Readme::File,
         {unpackFailure, failure},
         "正在解压缩升级包文件...",
         kNoTable,
         kOldFiles},
        {"made by kxpack make",
         "localhost",
         byKxpack(),
         Readme::File,
         {success},
         "更新文件完成",
         applied,
         kNewFiles},
        // Its own folder, with neither script nor files: a success that changes nothing.
        {"package folder alone",
         "localhost",
         holding(Content::BareFolder),
         Readme::File,
         {success},
         "更新文件完成",
         kNoTable,
         kOldFiles},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        const std::string where = "case " + std::to_string(i) + " (" + c.what + ")";
        UpgradeWorld world("kx_e2e_" + std::to_string(i));
        world.MakePackage(c.package);
        world.Register(c.serverName);
        const std::string readme = world.ProductFolder() + "/readme.txt";
        if (c.readme == Readme::ReadOnly) {
            ASSERT_EQ(::chmod(readme.c_str(), 0444), 0) << where;
        } else if (c.readme == Readme::Folder) {
            fs::remove(readme);
            fs::create_directory(readme);
        }
        ASSERT_TRUE(world.Open()) << where << ": the scan did not accept the package";

        world.PressUpgrade();

        EXPECT_EQ(world.MessageTexts(), c.messages) << where;
        for (const RecordedMessage &m : world.Messages())
            EXPECT_EQ(m.Caption, "提示") << where;
        if (!world.Messages().empty()) {
            const MessageIcon icon =
                c.messages.back() == success ? MessageIcon::Information : MessageIcon::Error;
            EXPECT_EQ(world.Messages().back().Icon, icon) << where;
        }
        if (c.lastStep) {
            EXPECT_EQ(world.Form().StepText(), c.lastStep) << where;
        }
        EXPECT_EQ(world.Rows(), c.rows) << where;
        const ProductFiles files = world.Files();
        EXPECT_EQ(files.AppConf, c.files.AppConf) << where;
        EXPECT_EQ(files.Readme, c.files.Readme) << where;
        const bool libraryCopied = fs::exists(world.ProductFolder() + "/lib/libdemo.so");
        EXPECT_EQ(libraryCopied, c.files.AppConf == kNewFiles.AppConf) << where;
        EXPECT_EQ(ReadWholeFile(world.ProductFolder() + "/keep.cfg"), "local settings") << where;
        if (c.readme == Readme::ReadOnly) {
            EXPECT_EQ(fs::status(readme).permissions(), fs::perms(0444)) << where;
        }
        world.ExpectRestored(where);
    }
}

mode_t ModeOf(const std::string &path)
{
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

mode_t CreationMask()
{
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

// A product installed with its own modes and owners, and a package made on a machine that
// knows neither: the product's files keep what its installation gave them.
TEST_F(UpgradeEndToEnd, ReplacedFilesKeepTheirBitsAndOwnerNewOnesTakeThePackages)
{
    UpgradeWorld world("kx_e2e_modes");
    world.MakePackage({});
    world.Register("127.0.0.1");
    const std::string product = world.ProductFolder();
    ASSERT_EQ(::chmod((product + "/bin/app.conf").c_str(), 0750), 0);
    ASSERT_EQ(::chmod((product + "/readme.txt").c_str(), 0604), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown((product + "/bin/app.conf").c_str(), kUnprivilegedId, kUnprivilegedId),
                  0);
    }
    ASSERT_TRUE(world.Open());

    world.PressUpgrade();

    ASSERT_EQ(world.MessageTexts(), std::vector<std::string>{"升级成功！"});
    EXPECT_EQ(world.Files().AppConf, kNewFiles.AppConf);
    EXPECT_EQ(ModeOf(product + "/bin/app.conf"), 0750u);
    EXPECT_EQ(ModeOf(product + "/readme.txt"), 0604u);
    if (root) {
        struct stat st {};
        ASSERT_EQ(::stat((product + "/bin/app.conf").c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, kUnprivilegedId);
        EXPECT_EQ(st.st_gid, kUnprivilegedId);
    }
    // A new file: the bits it was unpacked with, never set-user-ID; a new folder: the mask's.
    const std::string unpacked =
        world.ProgramFolder() + "TempUpdate/demo_5.2/UpdateFiles/lib/libdemo.so";
    EXPECT_EQ(ModeOf(product + "/lib/libdemo.so"), ModeOf(unpacked) & 0777);
    EXPECT_EQ(ModeOf(product + "/lib"), 0777 & ~CreationMask());
}

// A program folder and a package copied from a Chinese Windows machine: their names are in
// the Chinese code page, which no label gives back byte for byte.
TEST_F(UpgradeEndToEnd, ProgramFolderAndPackageNamedInTheChineseCodePage)
{
    UpgradeWorld world("kx_e2e_gb18030", "\xB3\xCC\xD0\xF2", // "程序" in GB18030
                       "\xD1\xDD\xCA\xBE_5.2");              // "演示" in GB18030
    world.MakePackage({});
    world.Register("localhost");
    ASSERT_TRUE(world.Open());
    EXPECT_EQ(Control<QLabel>(world.Form(), "Lab_Path").text().toStdString(),
              world.Folder().Slashed() + "程序/演示_5.2.zip");

    world.PressUpgrade();

    EXPECT_EQ(world.MessageTexts(), std::vector<std::string>{"升级成功！"});
    EXPECT_EQ(world.Rows(), "升级,5.2");
    EXPECT_EQ(world.Files().AppConf, kNewFiles.AppConf);
    EXPECT_EQ(world.Files().Readme, kNewFiles.Readme);
}

TEST_F(UpgradeEndToEnd, ErrorLeavingTheRunReachesTheDefaultErrorReport)
{
    // An Oracle product: the connection opens, and the host-address query of the locality
    // rule fails, which no stage handles.
    UpgradeWorld world("kx_e2e_escape");
    PackageSpec recipe;
    recipe.DbType = 2;
    world.MakePackage(recipe);
    world.Register("orcl", 2);
    ASSERT_TRUE(world.Open());

    world.PressUpgrade();

    ASSERT_EQ(world.Messages().size(), 1u) << testing::PrintToString(world.MessageTexts());
    const RecordedMessage &report = world.Messages()[0];
    EXPECT_EQ(report.Caption, kTitle);
    EXPECT_EQ(report.Icon, MessageIcon::Error);
    EXPECT_NE(report.Text, "升级成功！");
    EXPECT_NE(report.Text, "升级失败！");
    // The database's own words on the host-address query.
    EXPECT_NE(report.Text.find("utl_inaddr"), std::string::npos) << report.Text;
    world.ExpectRestored("after the error");
    EXPECT_EQ(world.Rows(), kNoTable);
    EXPECT_EQ(world.Files().AppConf, kOldFiles.AppConf);
}

TEST_F(UpgradeEndToEnd, TwoUpgradesOneAfterTheOther)
{
    UpgradeWorld world("kx_e2e_twice");
    world.MakePackage({});
    world.Register("localhost");
    ASSERT_TRUE(world.Open());

    world.PressUpgrade();
    EXPECT_EQ(world.MessageTexts(), std::vector<std::string>{"升级成功！"});
    EXPECT_EQ(world.Rows(), "升级,5.2");
    world.ExpectRestored("after the first upgrade");

    // Between the two: the user edits a product file, and a file lies in the unpacked folder
    // that the package does not hold.
    world.Folder().Write("product/readme.txt", "edited");
    world.Folder().Write("prog/TempUpdate/demo_5.2/UpdateFiles/stale.txt", "stale");
    world.ClearMessages();

    world.PressUpgrade();
    EXPECT_EQ(world.MessageTexts(), std::vector<std::string>{"升级成功！"});
    EXPECT_EQ(world.Rows(), "升级,5.2,升级,5.2");
    EXPECT_EQ(world.Files().Readme, kNewFiles.Readme);
    EXPECT_FALSE(fs::exists(world.ProductFolder() + "/stale.txt"));
    EXPECT_EQ(world.Form().StepText(), "更新文件完成");
    world.ExpectRestored("after the second upgrade");
}

} // namespace
