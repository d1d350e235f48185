// The upgrade run's order of stages, its failure paths and its clean-up, with a fake archiver
// and data layer over a real temporary program folder.

#include "upgrade/upgrade_run.h"

#include "package/package_signature.h"
#include "platform/error.h"
#include "tests/support/package_signer.h"
#include "tests/support/upgrade_run_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

namespace offline_upgrade {

namespace fs = std::filesystem;

namespace {

TEST_F(UpgradeRun, SuccessRunsEveryStageInOrderAndClosesTheConnection)
{
    archiver.OnStart = [this] { UnpackGoodPackage(); };
    window.SetProgressMax(7);
    window.SetProgressPosition(5);
    ASSERT_TRUE(Run());

    ASSERT_EQ(archiver.Started.size(), 1u);
    EXPECT_EQ(archiver.Started[0], "\"" + program + "KX_Rar.exe\" x -y -pxr352 \"" + program +
                                       "pkg_2.zip\" \"" + program + "TempUpdate\"");
    ASSERT_GE(window.Calls.size(), 4u);
    EXPECT_EQ(window.Calls[2], "max:100"); // each run starts the bar afresh
    EXPECT_EQ(window.Calls[3], "pos:0");
    EXPECT_EQ(window.Steps.front(), "正在解压缩升级包文件...");
    EXPECT_EQ(window.Steps.back(), "更新文件完成");
    EXPECT_EQ(command.Executed, std::vector<std::string>{"insert into t values (1)"});
    EXPECT_EQ(ReadWholeFile(folder.Path() / "product/bin/app.txt"), "new");
    EXPECT_TRUE(window.Messages.empty());
    EXPECT_TRUE(window.Remarks.empty()); // the blocks ran here
    EXPECT_FALSE(connection.IsOpen);
}

TEST_F(UpgradeRun, RemoteServerCopiesFilesWithoutRunningTheScript)
{
    Product.ServerName = "db.example";
    archiver.OnStart = [this] { UnpackGoodPackage(); };
    ASSERT_TRUE(Run());
    EXPECT_TRUE(command.Executed.empty());
    EXPECT_EQ(ReadWholeFile(folder.Path() / "product/bin/app.txt"), "new");
    // Not a failure, but said: the database part was left to the server's machine.
    EXPECT_EQ(window.Remarks, std::vector<std::string>{kScriptsLeftToServerText});
}

TEST_F(UpgradeRun, UnpackFailuresStopBeforeTheDatabase)
{
    struct Case {
        const char *what;
        bool canStart;
        std::optional<int> exitCode;
    };
    const Case cases[] = {
        {"archiver cannot start", false, 0},
        {"damaged package", true, 2},
        {"wrong password", true, 11},
        {"archiver killed", true, std::nullopt},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        archiver.CanStart = cases[i].canStart;
        archiver.ExitCode = cases[i].exitCode;
        window.Messages.clear();
        connection.Calls.clear();
        EXPECT_FALSE(Run()) << "case " << i << ": " << cases[i].what;
        ASSERT_EQ(window.Messages.size(), 1u) << "case " << i;
        EXPECT_EQ(window.Messages[0].Text, "解压缩升级包文件失败！") << "case " << i;
        EXPECT_EQ(window.Messages[0].Caption, "提示") << "case " << i;
        EXPECT_EQ(window.Messages[0].Icon, MessageIcon::Error) << "case " << i;
        EXPECT_TRUE(connection.Calls.empty()) << "case " << i; // never opened
    }
}

TEST_F(UpgradeRun, FilesLeftByAnEarlierRunAreNeverApplied)
{
    UnpackGoodPackage(); // as an earlier run left them
    folder.Write("TempUpdate/other/keep.txt", "another package's folder");
    folder.Write("TempUpdate/Update.ini", "[CONFIG]");
    // This time the archiver unpacks nothing and still reports success: the package's own
    // folder is missing, so the unpack has failed.
    connection.Calls.clear();
    EXPECT_FALSE(Run());
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"解压缩升级包文件失败！"});
    EXPECT_TRUE(connection.Calls.empty());
    EXPECT_TRUE(command.Executed.empty());
    EXPECT_FALSE(fs::exists(folder.Path() / "product/bin/app.txt"));
    EXPECT_FALSE(fs::exists(folder.Path() / "TempUpdate/pkg_2"));
    EXPECT_TRUE(fs::exists(folder.Path() / "TempUpdate/other/keep.txt"));
    EXPECT_TRUE(fs::exists(folder.Path() / "TempUpdate/Update.ini"));
}

TEST_F(UpgradeRun, PackageFolderWithoutScriptOrFilesIsASuccessThatChangesNothing)
{
    archiver.OnStart = [this] { fs::create_directories(folder.Path() / "TempUpdate/pkg_2"); };
    EXPECT_TRUE(Run());
    EXPECT_TRUE(window.Messages.empty());
    EXPECT_TRUE(command.Executed.empty());
    EXPECT_FALSE(fs::exists(folder.Path() / "product"));
}

TEST_F(UpgradeRun, ConnectionFailureStopsBeforeScriptsAndFiles)
{
    archiver.OnStart = [this] { UnpackGoodPackage(); };
    connection.FailOpen = true;
    EXPECT_FALSE(Run());
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"连接产品数据库失败！"});
    EXPECT_TRUE(command.Executed.empty());
    EXPECT_FALSE(fs::exists(folder.Path() / "product/bin/app.txt"));
}

TEST_F(UpgradeRun, FailingBlockLeavesTheFilesUntouched)
{
    archiver.OnStart = [this] { UnpackGoodPackage(); };
    command.FailAt = 1;
    EXPECT_FALSE(Run());
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"执行升级脚本失败(one)！"});
    EXPECT_FALSE(fs::exists(folder.Path() / "product/bin/app.txt"));
    EXPECT_FALSE(connection.IsOpen);
}

TEST_F(UpgradeRun, FailedFileCopyFailsTheRunWithoutAMessage)
{
    archiver.OnStart = [this] { UnpackGoodPackage(); };
    files.FailCopyAt = 1;
    EXPECT_FALSE(Run());
    EXPECT_EQ(window.Steps.back(), "更新文件失败");
    EXPECT_TRUE(window.Messages.empty());
    EXPECT_FALSE(connection.IsOpen);
}

TEST_F(UpgradeRun, FilesThatCannotFollowStopTheRunBeforeTheFirstBlock)
{
    ExpectStoppedBeforeTheFirstBlock({
        {"a file where the folder bin goes", [&] { folder.Write("product/bin", "a file"); }},
        {"a full disk",
         [&] {
             files.EditSpace = [](const std::string &, FileSystemSpace &space) {
                 space.Available = 0;
             };
         }},
    });
}

TEST_F(UpgradeRun, ErrorLeavingTheRunClosesTheConnectionFirst)
{
    Package.DbType = 2; // the locality of an Oracle server is asked of the database
    query.FailOpen = true;
    archiver.OnStart = [this] { UnpackGoodPackage(); };
    EXPECT_THROW(Run(), KxError);
    EXPECT_FALSE(connection.IsOpen);
    EXPECT_EQ(connection.Calls.back(), "close");
    EXPECT_FALSE(fs::exists(folder.Path() / "product/bin/app.txt"));
}

TEST_F(UpgradeRun, TwoRunsInARowEachOpenTheConnectionAnew)
{
    archiver.OnStart = [this] { UnpackGoodPackage(); };
    ASSERT_TRUE(Run());
    ASSERT_TRUE(Run());
    EXPECT_EQ(std::count(connection.Calls.begin(), connection.Calls.end(), "open"), 2);
    EXPECT_EQ(command.Executed.size(), 2u);
    EXPECT_FALSE(connection.IsOpen);
}

// A product that pins a key: the run reads the package once more, and the archiver unpacks the
// copy it verified, only when its bytes are those the scan accepted.
class SignedUpgradeRun : public UpgradeRun {
protected:
    void SetUp() override
    {
        UpgradeRun::SetUp();
        Product.PackageKey = key.PublicLine();
        WritePackage("the accepted package's bytes");
        // What the scan leaves: the digest of the bytes it verified.
        const SignatureCheck scanned = VerifyPackageSignature(realFiles, program + "pkg_2.zip",
                                                              ParsePackageKeys(Product.PackageKey));
        ASSERT_TRUE(scanned.Good()) << scanned.Detail;
        Package.SignedDigest = scanned.Digest;
    }
    void WritePackage(const std::string &bytes)
    {
        folder.Write("pkg_2.zip", bytes);
        folder.Write("pkg_2.zip.minisig", SignBytesForTest(key, bytes, true, "test"));
    }
    std::string Copy() const { return program + "TempUpdate/pkg_2.zip"; }

    TestSigningKey key = MakeTestSigningKey();
};

TEST_F(SignedUpgradeRun, TheArchiverUnpacksTheVerifiedCopyWhichIsThenRemoved)
{
    std::string seen;
    archiver.OnStart = [&] {
        seen = ReadWholeFile(Copy());
        UnpackGoodPackage();
    };
    ASSERT_TRUE(Run());
    ASSERT_EQ(archiver.Started.size(), 1u);
    EXPECT_EQ(archiver.Started[0], "\"" + program + "KX_Rar.exe\" x -y -pxr352 \"" + Copy() +
                                       "\" \"" + program + "TempUpdate\"");
    EXPECT_EQ(seen, "the accepted package's bytes");
    EXPECT_FALSE(fs::exists(Copy()));
    // The package itself is read once in the run.
    EXPECT_EQ(
        std::count(files.OperationNames.begin(), files.OperationNames.end(), "OpenFileForReading"),
        2); // its signature file, then the package
}

TEST_F(SignedUpgradeRun, APackageChangedSinceTheScanIsNeverUnpacked)
{
    struct Case {
        const char *what;
        std::function<void()> change;
    };
    const Case cases[] = {
        {"swapped for another package the same key signed",
         [&] { WritePackage("another package's bytes"); }},
        {"bytes changed, signature kept", [&] { folder.Write("pkg_2.zip", "changed bytes"); }},
        {"signature removed", [&] { fs::remove(folder.Path() / "pkg_2.zip.minisig"); }},
        {"the scan verified nothing (key added after the scan)",
         [&] { Package.SignedDigest.clear(); }},
        {"the copy cannot be made",
         [&] {
             files.BeforeOperation = [&](int number, const std::string &name) {
                 if (name == "CreateNewFile")
                     files.FailOperationAt = number;
             };
         }},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(std::string("case ") + std::to_string(i) + ": " + cases[i].what);
        SetUp();
        connection.Calls.clear();
        files.Operations = 0;
        files.FailOperationAt = 0;
        window.Messages.clear();
        archiver.Started.clear();
        cases[i].change();
        EXPECT_FALSE(Run());
        files.BeforeOperation = nullptr;
        EXPECT_TRUE(archiver.Started.empty());
        ASSERT_EQ(window.Messages.size(), 1u);
        EXPECT_EQ(window.Messages[0].Text, "解压缩升级包文件失败！");
        EXPECT_TRUE(connection.Calls.empty());
        EXPECT_FALSE(fs::exists(Copy()));
    }
}

// Removing and filling that folder must take neither the work folder nor a file of the tool's.
TEST(UnpackedPackageFolder, NeverNamesTheWorkFolderItselfOrAToolsFile)
{
    UpgradeParts parts;
    T_PackageInfo &package = parts.Package;
    SystemFileSystem files;
    UpgradeContext context = parts.Context("/p/", files);
    const std::pair<const char *, const char *> cases[] = {
        {"abc.zip", "/p/TempUpdate/abc"},
        {"a b.ZIP", "/p/TempUpdate/a b"},
        {".zip", ""},
        {"x", ""},
        {"...zip", ""},
        {"..x.zip", "/p/TempUpdate/..x"},
        {"Update.ini.zip", ""},
        {"updatefiles.JOURNAL.zip", ""},
        {"offline-upgrade.lock. .zip", ""},
        {"a\\b.zip", ""},
        {"Update.ini.txt.zip", "/p/TempUpdate/Update.ini.txt"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        package.PackageName = cases[i].first;
        EXPECT_EQ(UnpackedPackageFolder(context), cases[i].second) << "case " << i;
    }
}

} // namespace

} // namespace offline_upgrade
