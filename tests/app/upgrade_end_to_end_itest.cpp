// The whole upgrade through the main window, as a user runs it: packages made with the real
// archiver in a temporary program folder, a private registry store, the real scan, the real
// ODBC objects against the private database server, and the real file update. Each case has a
// database of its own, so runs never depend on each other.

#include "tests/app/upgrade_world.h"

#include "platform/diagnostics.h"
#include "platform/log_file.h"
#include "platform/odbc/odbc_data_access.h"
#include "platform/posix/file_system_posix.h"
#include "platform/posix/process_posix.h"
#include "platform/posix/registry_posix.h"
#include "platform/program_folder_lock.h"
#include "product/secretkey.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/killed_amid.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_database.h"
#include "tests/support/tree_snapshot.h"
#include "tests/support/unprivileged.h"
#include "upgrade/upgrade_run.h"

#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace offline_upgrade {

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
        // A log that falls back to the state folder must not reach the user's own.
        stateHome_.emplace();
        setenv("XDG_STATE_HOME", stateHome_->Path().c_str(), 1);
    }
    void TearDown() override { EXPECT_EQ(fs::current_path(), startDir_); }

    static DriverList *drivers_;
    fs::path startDir_;
    std::optional<TempFolder> stateHome_;
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
        PackageRecipe package;
        Readme readme;
        std::vector<std::string> messages;
        const char *lastStep; // nullptr: not checked
        std::string rows;
        ProductFiles files;
        std::vector<std::string> logged{}; // each stands in the upgrade log
    };
    const auto damaged = [] {
        PackageRecipe recipe;
        recipe.Damaged = true;
        return recipe;
    };
    const auto wrongPassword = [] {
        PackageRecipe recipe;
        recipe.Password = "xr353";
        return recipe;
    };
    const auto failingBlock = [] {
        PackageRecipe recipe;
        recipe.Script = kFailingScript;
        return recipe;
    };
    const auto renamed = [] {
        PackageRecipe recipe;
        recipe.FileName = "demo_5.2 (1).zip"; // as a browser names a second download
        return recipe;
    };
    const auto byKxpack = [] {
        PackageRecipe recipe;
        recipe.ByKxpack = true;
        return recipe;
    };
    const auto holding = [](Content content) {
        PackageRecipe recipe;
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
         kNewFiles,
         {"upgrade of E2E", "unpack stage: started", "unpack stage: succeeded after",
          "unpack: the archiver ended with exit code 0", "connection stage: succeeded after",
          "locality: MySQL server \"localhost\"", "this machine, the scripts run",
          "block create: ran in", "block fill: ran in", "script stage: succeeded after",
          "file stage: 3 files copied", "file stage: succeeded after", "upgrade: succeeded after"}},
        {"remote server",
         "127.0.0.1",
         {},
         Readme::File,
         {success},
         "更新文件完成",
         kNoTable,
         kNewFiles,
         {"\"127.0.0.1\" compared with \"localhost\" with ComputerName \"TESTPC\" and LocalIP "
          "\"10.0.0.7\": the database server is another machine",
          "script stage: skipped",
          "upgrade: the SQL blocks did not run: the database server 127.0.0.1 is another machine",
          "upgrade: succeeded after"}},
        {"damaged package",
         "localhost",
         damaged(),
         Readme::File,
         {unpackFailure, failure},
         "正在解压缩升级包文件...",
         kNoTable,
         kOldFiles,
         {"unpack: the archiver ended with exit code 3; it said: KX_Rar.exe: ",
          "unpack stage: failed after", "upgrade: failed after"}},
        {"wrong package password",
         "localhost",
         wrongPassword(),
         Readme::File,
         {unpackFailure, failure},
         "正在解压缩升级包文件...",
         kNoTable,
         kOldFiles,
         {"unpack: the archiver ended with exit code 11; it said: KX_Rar.exe: "}},
        {"failing block",
         "localhost",
         failingBlock(),
         Readme::File,
         {"执行升级脚本失败(broken)！", failure},
         nullptr,
         applied,
         kOldFiles,
         // MariaDB's own words, with the state and its native error number.
         {"block broken: failed after", "[42S02] (native error 1146)",
          "no_such_table' doesn't exist", "script stage: 2 blocks ran and stay applied",
          "script stage: failed after"}},
        // Root may replace a file without write bits, as cp does; it stays read-only.
        {"read-only target file",
         "localhost",
         {},
         Readme::ReadOnly,
         {success},
         "更新文件完成",
         applied,
         kNewFiles},
        // Found before any block runs: neither the database nor a file changes.
        {"target file is a folder",
         "localhost",
         {},
         Readme::Folder,
         {failure},
         "更新文件失败",
         kNoTable,
         {kOldFiles.AppConf, kFolder},
         {"a folder stands where the file ", "/product/readme.txt is to be",
          "upgrade: failed after"}},
        // The content sits under demo_5.2/, not under the file's own name: nothing would be
        // applied, so the unpack has failed.
        {"renamed package",
         "localhost",
         renamed(),
         Readme::File,
         {unpackFailure, failure},
         "正在解压缩升级包文件...",
         kNoTable,
         kOldFiles,
         {"holds no folder named like its file"}},
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
        const std::string log = world.Log();
        for (const std::string &part : c.logged)
            EXPECT_NE(log.find(part), std::string::npos) << where << ": not logged: " << part;
        const ProductFiles files = world.Files();
        EXPECT_EQ(files.AppConf, c.files.AppConf) << where;
        EXPECT_EQ(files.Readme, c.files.Readme) << where;
        const bool libraryCopied = fs::exists(world.ProductFolder() + "/lib/libdemo.so");
        EXPECT_EQ(libraryCopied, c.files.AppConf == kNewFiles.AppConf) << where;
        EXPECT_EQ(ReadWholeFile(world.ProductFolder() + "/keep.cfg"), "local settings") << where;
        if (c.readme == Readme::ReadOnly) {
            EXPECT_EQ(fs::status(readme).permissions(), fs::perms(0444)) << where;
        }
        // Whatever the outcome, no kept file, temporary file or journal is left.
        EXPECT_EQ(StageLeftovers(world.ProductFolder()), (std::map<std::string, std::string>{}))
            << where;
        EXPECT_FALSE(fs::exists(world.Journal())) << where;
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
    PackageRecipe recipe;
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

TEST_F(UpgradeEndToEnd, RejectedPackageLeavesItsReasonInTheLog)
{
    UpgradeWorld world("kx_e2e_rejected");
    world.MakePackage({});
    world.Register("localhost");
    world.EditRegistry("\"Version\"=\"5\"", "\"Version\"=\"6\"");

    EXPECT_FALSE(world.Open());

    EXPECT_TRUE(world.MessageTexts().empty());
    EXPECT_FALSE(Control<QWidget>(world.Form(), "Lab_NoPackage").isHidden());
    const std::string log = world.Log();
    EXPECT_NE(log.find("scan: demo_5.2.zip: archiver exit code 0; passed over: version \"5\" "
                       "differs from the installed version \"6\""),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("scan: no package fits"), std::string::npos) << log;
}

// Full runs with known secrets: the package password, the stored password in both of its
// stored forms (Base64 for MySQL, scrambled for the others) and the decoded password.
TEST_F(UpgradeEndToEnd, NoSecretReachesTheLog)
{
    const std::string scrambled =
        XorWithKey(XorWithKey(kTestDbPassword, kPasswordKey), kSecretKeyPrefix + kPasswordKey);
    const std::string secrets[] = {"xr352", kTestDbPassword, Base64(kTestDbPassword), scrambled};
    struct Case {
        const char *what;
        int dbType;
        const char *serverName;
    };
    // The second connects and then fails in the locality query: the error report is logged.
    const Case cases[] = {{"MySQL, success", 1, "localhost"}, {"Oracle, error", 2, "orcl"}};
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        UpgradeWorld world("kx_e2e_secret_" + std::to_string(i));
        PackageRecipe recipe;
        recipe.DbType = c.dbType;
        world.MakePackage(recipe);
        world.Register(c.serverName, c.dbType);
        ASSERT_TRUE(world.Open()) << c.what;
        world.PressUpgrade();
        ASSERT_EQ(world.Messages().size(), 1u) << c.what;

        const std::string log = world.Log();
        ASSERT_NE(log.find("connection: "), std::string::npos) << c.what << "\n" << log;
        EXPECT_NE(log.find("upgrade: "), std::string::npos) << c.what << "\n" << log;
        for (size_t k = 0; k < std::size(secrets); ++k)
            EXPECT_EQ(log.find(secrets[k]), std::string::npos)
                << c.what << ": secret " << k << " is in the log:\n"
                << log;
    }
}

// No folder takes the log: the run goes exactly as with one.
TEST_F(UpgradeEndToEnd, LogThatCannotBeWrittenAnywhereChangesNothing)
{
    UpgradeWorld world("kx_e2e_nolog");
    world.MakePackage({});
    world.Register("localhost");
    // A folder in the log file's place, and a file in the state folder's.
    fs::remove(world.ProgramFolder() + kLogFileName);
    fs::create_directory(world.ProgramFolder() + kLogFileName);
    world.Folder().Write("not-a-folder", "");
    setenv("XDG_STATE_HOME", (world.Folder().Slashed() + "not-a-folder").c_str(), 1);
    ASSERT_EQ(world.ReopenLog(), "");
    ASSERT_TRUE(world.Open());

    world.PressUpgrade();

    EXPECT_EQ(world.MessageTexts(), std::vector<std::string>{"升级成功！"});
    EXPECT_EQ(world.Rows(), "升级,5.2");
    EXPECT_EQ(world.Files().AppConf, kNewFiles.AppConf);
    EXPECT_EQ(world.Form().StepText(), "更新文件完成");
    world.ExpectRestored("without a log");
    EXPECT_TRUE(fs::is_empty(world.ProgramFolder() + kLogFileName));
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

// Acts as another user from here to the end of the scope: the effective ids only, so that
// root's can be taken back.
class EffectiveUser {
public:
    explicit EffectiveUser(unsigned id)
    {
        EXPECT_EQ(::setegid(id), 0);
        EXPECT_EQ(::seteuid(id), 0);
    }
    ~EffectiveUser()
    {
        EXPECT_EQ(::seteuid(0), 0);
        EXPECT_EQ(::setegid(0), 0);
    }
    EffectiveUser(const EffectiveUser &) = delete;
    EffectiveUser &operator=(const EffectiveUser &) = delete;
};

// A product installed by root, run by a user who may write its folders but not one of its
// files: the checks find it before any block runs.
TEST_F(UpgradeEndToEnd, FileThisUserMayNotReplaceStopsTheRunBeforeAnyBlock)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to make files of two users";
    UpgradeWorld world("kx_e2e_user");
    world.MakePackage({});
    world.Register("localhost");
    const std::string product = world.ProductFolder();
    // The user reaches everything and owns the program folder; the product's folders are
    // open to it, its readme is root's and read-only to others.
    ASSERT_EQ(::chmod(world.Folder().Path().c_str(), 0755), 0);
    for (const auto &entry : fs::recursive_directory_iterator(world.ProgramFolder()))
        ASSERT_EQ(::lchown(entry.path().c_str(), kUnprivilegedId, kUnprivilegedId), 0);
    ASSERT_EQ(::chown(world.ProgramFolder().c_str(), kUnprivilegedId, kUnprivilegedId), 0);
    // A user who may not write the registry store sees no product installed.
    const std::string store = world.Folder().Slashed() + "registry.reg";
    ASSERT_EQ(::chown(store.c_str(), kUnprivilegedId, kUnprivilegedId), 0);
    for (const std::string &folder : {product, product + "/bin"})
        ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
    ASSERT_EQ(::chmod((product + "/bin/app.conf").c_str(), 0666), 0);
    ASSERT_EQ(::chmod((product + "/readme.txt").c_str(), 0644), 0);
    const auto before = SnapshotTree(product);
    {
        EffectiveUser user(kUnprivilegedId);
        ASSERT_TRUE(world.Open());
        world.PressUpgrade();
    }

    EXPECT_EQ(world.MessageTexts(), std::vector<std::string>{"升级失败！"});
    EXPECT_EQ(world.Form().StepText(), "更新文件失败");
    EXPECT_EQ(world.Rows(), kNoTable); // no block ran
    EXPECT_EQ(SnapshotTree(product), before);
    world.ExpectRestored("after the refused run");
}

// The disk fills up while the new files are written (the second copy fails as a full disk
// fails it), after the blocks ran: every product file is back as it was.
TEST_F(UpgradeEndToEnd, FullDiskAmidTheCopyLeavesTheProductAsItWas)
{
    UpgradeWorld world("kx_e2e_full");
    world.MakePackage({});
    world.Register("localhost");
    const auto before = SnapshotTree(world.ProductFolder());
    ASSERT_TRUE(world.Open());
    world.Faults().FailCopyAt = 2;

    world.PressUpgrade();

    EXPECT_EQ(world.MessageTexts(), std::vector<std::string>{"升级失败！"});
    EXPECT_EQ(world.Form().StepText(), "更新文件失败");
    EXPECT_EQ(world.Rows(), "升级,5.2"); // the blocks ran before the copy
    EXPECT_EQ(SnapshotTree(world.ProductFolder()), before);
    EXPECT_FALSE(fs::exists(world.Journal()));
    world.ExpectRestored("after the failed copy");
}

// The program is killed while its files are half in place (the child process of this test
// stops at the third step that moves a file and is ended from here); the next start of the window
// puts the product's files back before its scan.
TEST_F(UpgradeEndToEnd, KilledRunIsRestoredAtTheNextStart)
{
    UpgradeWorld world("kx_e2e_killed");
    world.MakePackage({});
    world.Register("localhost");
    const auto before = SnapshotTree(world.ProductFolder());
    ASSERT_TRUE(world.Open());
    ASSERT_TRUE(KilledAtFileMove(world.Faults(), 3, [&] { world.PressUpgrade(); }))
        << "the stage ended before its third move";
    ASSERT_TRUE(fs::exists(world.Journal()));
    EXPECT_NE(SnapshotTree(world.ProductFolder()), before);

    ASSERT_TRUE(world.Open()); // the next start

    EXPECT_EQ(SnapshotTree(world.ProductFolder()), before);
    EXPECT_FALSE(fs::exists(world.Journal()));
    EXPECT_EQ(world.Rows(), "升级,5.2"); // the blocks stay applied; the files are whole
}

// Entries of a package named like the tool's own files, beside its top folder (unpacked into
// the work folder) and inside it: the upgrade runs as usual, the lock held meanwhile stays
// held, and the next start obeys no journal a package brought and still finds the package.
TEST_F(UpgradeEndToEnd, PackageEntriesNamedLikeTheToolsFilesReachNoneOfThem)
{
    const auto journalNaming = [](const std::string &victim, int version) {
        const auto field = [](const std::string &text) {
            return " " + std::to_string(text.size()) + ":" + text;
        };
        std::string text = "kx-file-stage-journal " + std::to_string(version) + "\n";
        if (version == 2)
            text += "product" + field("E2E") + field("/") + "\n";
        return text + "file" + field(victim) + field(victim + ".kxnew") + field("") + "\nend\n";
    };
    struct Case {
        const char *what;
        // Entries by name; "@victim1" and "@victim2" stand for a journal that would remove the
        // victim, in the first form of the journal and in this one.
        std::vector<std::pair<std::string, std::string>> extra;
        // False: the archiver refuses to put the package's folder over the descriptor file,
        // and the run stops at the unpack with nothing applied.
        bool unpacks = true;
    };
    const Case cases[] = {
        {"a journal beside the top folder", {{"UpdateFiles.journal", "@victim1"}}},
        {"a journal of this form beside the top folder", {{"UpdateFiles.journal", "@victim2"}}},
        {"a folder where the journal was", {{"UpdateFiles.journal/x", "x"}}},
        {"the lock beside the top folder", {{"offline-upgrade.lock", "1\n"}}},
        {"the descriptor file beside the top folder",
         {{"Update.ini", "[CONFIG]\r\ncorp=acme\r\n"}}},
        {"a folder where the descriptor file goes", {{"Update.ini/x", "x"}}, false},
        {"the tool's names inside the top folder",
         {{"demo_5.2/UpdateFiles.journal", "@victim1"},
          {"demo_5.2/offline-upgrade.lock", "1\n"},
          {"demo_5.2/Update.ini/x", "x"}}},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const std::string where = "case " + std::to_string(i) + " (" + cases[i].what + ")";
        UpgradeWorld world("kx_e2e_names");
        const std::string victim = world.Folder().Slashed() + "outside/victim.txt";
        world.Folder().Write("outside/victim.txt", "victim");
        PackageRecipe recipe;
        for (auto [name, bytes] : cases[i].extra) {
            if (bytes.starts_with("@victim"))
                bytes = journalNaming(victim, bytes == "@victim1" ? 1 : 2);
            recipe.Extra.emplace_back(name, bytes);
        }
        world.MakePackage(recipe);
        world.Register("localhost");
        ASSERT_TRUE(world.Open()) << where;
        const ProgramFolderLock lock = ProgramFolderLock::Acquire(world.ProgramFolder());
        ASSERT_EQ(lock.Result(), ProgramFolderLock::Outcome::Held) << where;

        world.PressUpgrade();

        const bool unpacks = cases[i].unpacks;
        const std::vector<std::string> messages =
            unpacks ? std::vector<std::string>{"升级成功！"}
                    : std::vector<std::string>{"解压缩升级包文件失败！", "升级失败！"};
        EXPECT_EQ(world.MessageTexts(), messages) << where;
        EXPECT_EQ(world.Files().AppConf, unpacks ? kNewFiles.AppConf : kOldFiles.AppConf) << where;
        EXPECT_EQ(ProgramFolderLock::Acquire(world.ProgramFolder()).Result(),
                  ProgramFolderLock::Outcome::Busy)
            << where;
        // The next start: nothing to recover, nothing kept aside, the package found again.
        EXPECT_TRUE(world.Open()) << where;
        EXPECT_EQ(ReadWholeFile(victim), "victim") << where;
        EXPECT_FALSE(fs::exists(world.Journal())) << where;
        EXPECT_FALSE(fs::exists(world.Journal() + ".rejected-1")) << where;
        EXPECT_EQ(world.Rows(), unpacks ? "升级,5.2" : kNoTable) << where;
    }
}

// A journal that fails its check is kept aside at the start and blocks the upgrade before any
// block runs, in the window and unattended, with the design's texts; the log says why and what
// an administrator does. Once it is removed, the upgrade runs.
TEST_F(UpgradeEndToEnd, AJournalKeptAsideBlocksTheUpgradeUntilItIsRemoved)
{
    UpgradeWorld world("kx_e2e_kept");
    world.MakePackage({});
    world.Register("localhost");
    world.Folder().Write("prog/UpdateFiles.journal", "kx-file-stage-journal 2\nproduct 3:E2E");
    const auto before = SnapshotTree(world.ProductFolder());
    const std::string kept = world.Journal() + ".rejected-1";

    ASSERT_TRUE(world.Open());
    EXPECT_TRUE(fs::exists(kept));
    world.PressUpgrade();

    EXPECT_EQ(world.MessageTexts(), std::vector<std::string>{"升级失败！"});
    EXPECT_EQ(world.Form().StepText(), "更新文件失败");
    EXPECT_EQ(world.Rows(), kNoTable);
    EXPECT_EQ(SnapshotTree(world.ProductFolder()), before);
    world.ExpectRestored("after the blocked upgrade");
    const std::string log = world.Log();
    EXPECT_NE(log.find("UpdateFiles.journal of an earlier file stage is torn"), std::string::npos)
        << log;
    EXPECT_NE(log.find("nothing it names was touched, and it is kept as " + kept),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("no upgrade runs from this program folder while " + kept), std::string::npos)
        << log;

    world.PlaceProgram();
    const UpgradeWorld::ProgramRun run = world.RunProgram("--unattended");
    EXPECT_EQ(run.ExitCode, 2) << run.Out << run.Err;
    EXPECT_NE(run.Out.find("更新文件失败\n升级失败！\n失败步骤：更新文件失败\n"), std::string::npos)
        << run.Out;
    EXPECT_EQ(world.Rows(), kNoTable);

    fs::remove(kept);
    world.ClearMessages();
    world.PressUpgrade();
    EXPECT_EQ(world.MessageTexts(), std::vector<std::string>{"升级成功！"});
    EXPECT_EQ(world.Rows(), "升级,5.2");
}

} // namespace

} // namespace offline_upgrade
