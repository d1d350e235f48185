// kxpack run as a program on packages made during the test (KX_Rar.exe a, zip -P, 7z, Python's
// zipfile for names no archiver writes, and kxpack make), and compared with the tool's own
// scan and script stage on the same packages.

#include "package/package_scan.h"
#include "platform/posix/file_system_posix.h"
#include "platform/posix/process_posix.h"
#include "platform/posix/registry_posix.h"
#include "platform/program_run.h"
#include "tests/support/fake_data_access.h"
#include "tests/support/recording_window.h"
#include "tests/support/temp_folder.h"
#include "tests/support/upgrade_parts.h"
#include "upgrade/script_runner.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kxpack {

using offline_upgrade::BinDir;
using offline_upgrade::FakeCommand;
using offline_upgrade::FakeConnection;
using offline_upgrade::FakeQuery;
using offline_upgrade::FindUpgradePackage;
using offline_upgrade::IScanView;
using offline_upgrade::PosixFileSystem;
using offline_upgrade::PosixProcesses;
using offline_upgrade::ProgramOutcome;
using offline_upgrade::ReadWholeFile;
using offline_upgrade::RecordingWindow;
using offline_upgrade::RegFileRegistry;
using offline_upgrade::RunProgramToEnd;
using offline_upgrade::RunUpgradeScripts;
using offline_upgrade::ScanContext;
using offline_upgrade::T_PackageInfo;
using offline_upgrade::T_ProductReg;
using offline_upgrade::TempFolder;
using offline_upgrade::UpgradeContext;
using offline_upgrade::UpgradeParts;

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr int kClean = 0, kErrors = 1, kUnreadable = 2, kBadCommand = 3;

const std::string kScript = "-- sql begin create\r\n"
                            "CREATE TABLE t (a INT)\r\n"
                            "-- end sql\r\n"
                            "-- sql begin fill\r\n"
                            "INSERT INTO t VALUES (1);\r\n"
                            "\r\n"
                            "  INSERT INTO t VALUES (2)\r\n"
                            "-- end sql\r\n";

// Descriptor keys in file order; a key set to nullopt is left out.
using Keys = std::vector<std::pair<std::string, std::optional<std::string>>>;

const Keys kGoodKeys = {{"corp", "glenmarsh"},
                        {"Soft", "Demo"},
                        {"Version", "5"},
                        {"Build", "5.2"},
                        {"EndDate", "2099-12-31"},
                        {"SQLCount", "2"},
                        {"PackageName", "ABC_5.2.zip"},
                        {"DbType", "1"},
                        {"ExeName", "demo"},
                        {"RegValue", "ABC"}};

// The good descriptor with some keys changed (or left out), and extra keys appended.
std::string Descriptor(const Keys &changes = {}, const std::string &extra = "")
{
    std::string text = "[CONFIG]\r\n";
    for (const auto &[key, value] : kGoodKeys) {
        std::optional<std::string> v = value;
        for (const auto &[k, changed] : changes) {
            if (k == key)
                v = changed;
        }
        if (v)
            text += key + "=" + *v + "\r\n";
    }
    return text + extra;
}

enum class Maker { KxRar, Zip, SevenZip, Python };

struct Recipe {
    std::string Comment = Descriptor();
    std::optional<std::string> Script = kScript;
    std::map<std::string, std::string> Files = {{"bin/app.conf", "version=5.2\n"},
                                                {"readme.txt", "5.2\n"}};
    std::string Top = "ABC_5.2";
    std::string FileName = "ABC_5.2.zip";
    std::string Password = "xr352";
    Maker By = Maker::KxRar;
    // Further entries beside the top folder (archive name -> bytes). With Maker::Python the
    // names are stored exactly as given.
    std::map<std::string, std::string> Extra;
    // Bytes instead of an archive.
    std::optional<std::string> Raw;
};

std::string Shell(const std::string &text)
{
    return "'" + text + "'";
}

struct Outcome {
    int Code = -1;
    std::string Output;
};

Outcome RunKxpack(const std::vector<std::string> &args)
{
    std::vector<std::string> argv{(BinDir() / "kxpack").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    const ProgramOutcome outcome = RunProgramToEnd(argv);
    return {outcome.ExitCode.value_or(-1), outcome.Messages};
}

class Packages {
public:
    // Makes the package of a recipe in a folder of its own; returns its path.
    std::string Make(const Recipe &recipe)
    {
        const std::string dir = temp_.Slashed() + "p" + std::to_string(++count_) + "/";
        const std::string out = dir + recipe.FileName;
        fs::create_directories(dir + "stage");
        if (recipe.Raw) {
            temp_.Write("p" + std::to_string(count_) + "/" + recipe.FileName, *recipe.Raw);
            return out;
        }
        const std::string stage = "p" + std::to_string(count_) + "/stage/";
        const std::string top = stage + recipe.Top + "/";
        fs::create_directories(temp_.Path() / top);
        if (recipe.Script)
            temp_.Write(top + "UpdateSQL.sql", *recipe.Script);
        for (const auto &[name, bytes] : recipe.Files)
            temp_.Write(top + "UpdateFiles/" + name, bytes);
        const std::string comment = dir + "comment.ini";
        temp_.Write("p" + std::to_string(count_) + "/comment.ini", recipe.Comment);
        std::string names = Shell(recipe.Top);
        for (const auto &[name, bytes] : recipe.Extra) {
            if (recipe.By != Maker::Python) {
                temp_.Write(stage + name, bytes);
                names += " " + Shell(name);
            }
        }
        std::string command = "cd " + Shell(dir + "stage") + " && ";
        switch (recipe.By) {
        case Maker::KxRar:
            command += Shell((BinDir() / "KX_Rar.exe").string()) + " a -y -p" + recipe.Password +
                       " -z" + Shell(comment) + " " + Shell(out) + " " + names + " >/dev/null";
            break;
        case Maker::Zip:
            // zip -z takes the comment from standard input (and rewrites its line ends).
            command += "zip -q -r -P " + recipe.Password + " " + Shell(out) + " " + names +
                       " && zip -q -z " + Shell(out) + " < " + Shell(comment);
            break;
        case Maker::SevenZip:
            command += "7z a -tzip -mem=AES256 -p" + recipe.Password + " " + Shell(out) + " " +
                       names + " >/dev/null";
            break;
        case Maker::Python: {
            const char *source = std::getenv("KX_SOURCE_DIR");
            command += "python3 " +
                       Shell(std::string(source ? source : ".") + "/tests/support/make_zip.py") +
                       " " + Shell(out) + " " + Shell(comment);
            for (const auto &entry : fs::recursive_directory_iterator(dir + "stage")) {
                if (entry.is_regular_file())
                    command += " " + Shell(fs::relative(entry.path(), dir + "stage").string() +
                                           "=" + entry.path().string());
            }
            int n = 0;
            for (const auto &[name, bytes] : recipe.Extra) {
                const std::string file = "extra" + std::to_string(++n);
                temp_.Write("p" + std::to_string(count_) + "/" + file, bytes);
                command += " " + Shell(name + "=" + dir + file);
            }
            break;
        }
        }
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        if (recipe.By == Maker::SevenZip)
            AppendComment(out, recipe.Comment);
        return out;
    }

    const TempFolder &Temp() const { return temp_; }

private:
    // 7z writes no comment: the end record is the archive's last 22 bytes, with a comment
    // length of 0 in its last two.
    static void AppendComment(const std::string &archive, const std::string &comment)
    {
        std::string bytes = ReadWholeFile(archive);
        ASSERT_GE(bytes.size(), 22u);
        const size_t at = bytes.size() - 2;
        bytes[at] = static_cast<char>(comment.size() & 0xFF);
        bytes[at + 1] = static_cast<char>(comment.size() >> 8);
        std::ofstream(archive, std::ios::binary) << bytes << comment;
    }

    TempFolder temp_;
    int count_ = 0;
};

json CheckJson(const std::string &package, int &code, const std::vector<std::string> &more = {})
{
    std::vector<std::string> args{"check", package, "--json"};
    args.insert(args.end(), more.begin(), more.end());
    const Outcome run = RunKxpack(args);
    code = run.Code;
    return json::parse(run.Output, nullptr, false);
}

// True when a finding of this severity and area mentions what (in its place or text).
bool HasFinding(const json &report, const std::string &severity, const std::string &area,
                const std::string &what)
{
    if (!report.contains("findings"))
        return false;
    for (const json &f : report["findings"]) {
        const std::string all = f["where"].get<std::string>() + ": " + f["text"].get<std::string>();
        if (f["severity"] == severity && f["area"] == area && all.find(what) != std::string::npos)
            return true;
    }
    return false;
}

Recipe With(std::function<void(Recipe &)> change)
{
    Recipe recipe;
    change(recipe);
    return recipe;
}

TEST(Kxpack, GoodPackagesFromEveryMakerPassClean)
{
    Packages packages;
    const struct {
        const char *what;
        Maker by;
    } cases[] = {
        {"KX_Rar.exe a", Maker::KxRar}, {"zip -P", Maker::Zip}, {"7z AES-256", Maker::SevenZip}};
    for (const auto &c : cases) {
        const std::string package = packages.Make(With([&](Recipe &r) { r.By = c.by; }));
        int code = -1;
        const json report = CheckJson(package, code);
        EXPECT_EQ(code, kClean) << c.what << "\n" << report.dump(1);
        EXPECT_EQ(report.value("errors", -1), 0) << c.what;
        EXPECT_EQ(report.value("warnings", -1), 0) << c.what << "\n" << report.dump(1);
        EXPECT_EQ(report["script"].value("blocks", -1), 2) << c.what;
        EXPECT_EQ(report["files"].value("files", -1), 2) << c.what;
    }
}

TEST(Kxpack, EachFaultGivesItsFinding)
{
    Packages packages;
    struct Case {
        const char *what;
        Recipe recipe;
        int code;
        const char *severity;
        const char *area;
        std::string mention; // in the finding's place or text
    };
    const auto script = [](std::string text) { return With([&](Recipe &r) { r.Script = text; }); };
    const auto comment = [](std::string text) {
        return With([&](Recipe &r) { r.Comment = text; });
    };
    const Case cases[] = {
        // descriptor
        {"no comment", comment(""), kErrors, "error", "descriptor", "has no descriptor"},
        {"no section CONFIG", comment("[CONFIX]\r\ncorp=glenmarsh\r\n"), kErrors, "error",
         "descriptor", "no key in a section [CONFIG]"},
        {"maker in other case", comment(Descriptor({{"corp", "Glenmarsh"}})), kErrors, "error",
         "descriptor", "differs in letter case"},
        {"other maker", comment(Descriptor({{"corp", "acme"}})), kErrors, "error", "descriptor",
         "[CONFIG] corp"},
        {"misspelt key", comment(Descriptor({}, "SQLCont=2\r\n")), kClean, "warning", "descriptor",
         "did you mean \"SQLCount\""},
        {"key given twice", comment(Descriptor({}, "Build=9\r\n")), kClean, "warning", "descriptor",
         "the tool takes the first"},
        {"DbType 3", comment(Descriptor({{"DbType", "3"}})), kErrors, "error", "descriptor",
         "is not 0 (SQL Server), 1 (MySQL) or 2 (Oracle)"},
        {"DbType not a number", comment(Descriptor({{"DbType", "MySQL"}})), kErrors, "error",
         "descriptor", "\"MySQL\" is not wholly a number: the tool reads 0"},
        {"DbType missing", comment(Descriptor({{"DbType", std::nullopt}})), kClean, "warning",
         "descriptor", "reads 0 (SQL Server)"},
        {"SQLCount not a number", comment(Descriptor({{"SQLCount", "2 blocks"}})), kClean,
         "warning", "descriptor", "\"2 blocks\" is not wholly a number"},
        {"empty Version", comment(Descriptor({{"Version", ""}})), kErrors, "error", "descriptor",
         "[CONFIG] Version"},
        {"empty Build", comment(Descriptor({{"Build", std::nullopt}})), kErrors, "error",
         "descriptor", "[CONFIG] Build"},
        {"empty Soft", comment(Descriptor({{"Soft", ""}})), kClean, "warning", "descriptor",
         "shows no product name"},
        {"empty RegValue", comment(Descriptor({{"RegValue", ""}})), kErrors, "error", "descriptor",
         "[CONFIG] RegValue"},
        {"UTF-8 text", comment(Descriptor({{"Soft", "演示"}})), kClean, "warning", "descriptor",
         "reads \"婕旂ず\""},
        {"GB18030 text", comment(Descriptor({{"Soft", "\xD1\xDD\xCA\xBE"}})), kClean, "note",
         "descriptor", "read as GB18030"},
        {"value past the read limit", comment(Descriptor({{"ExeName", std::string(2100, 'x')}})),
         kClean, "warning", "descriptor", "cut to 2047 bytes"},
        // archive
        {"wrong password", With([](Recipe &r) { r.Password = "xr353"; }), kErrors, "error",
         "archive", "does not open with the package password"},
        {"renamed file", With([](Recipe &r) { r.FileName = "ABC_5.2 (1).zip"; }), kErrors, "error",
         "archive", "no top folder named \"ABC_5.2 (1)\""},
        {"not named *.zip", With([](Recipe &r) { r.FileName = "ABC_5.2.zip.part"; }), kErrors,
         "error", "archive", "only at files named *.zip"},
        // The run unpacks it into its work folder, outside the package's own folder.
        {"entry beside the top folder", With([](Recipe &r) {
             r.Extra = {{"notes.txt", "x"}};
         }),
         kErrors, "error", "archive", "\"notes.txt\": beside the top folder: the tool unpacks it"},
        {"descriptor file among the entries", With([](Recipe &r) {
             r.Extra = {{"Update.ini", "[CONFIG]\r\ncorp=acme\r\n"}};
         }),
         kErrors, "error", "archive", "bears the name of the tool's own file Update.ini"},
        {"journal among the entries", With([](Recipe &r) {
             r.Extra = {{"UpdateFiles.journal", "kx-file-stage-journal 2\n"}};
         }),
         kErrors, "error", "archive", "bears the name of the tool's own file UpdateFiles.journal"},
        {"folder named like the lock", With([](Recipe &r) {
             r.Extra = {{"offline-upgrade.lock/x", "x"}};
         }),
         kErrors, "error", "archive", "bears the name of the tool's own file offline-upgrade.lock"},
        {"the tool's names inside the top folder", With([](Recipe &r) {
             r.Extra = {{"ABC_5.2/UpdateFiles.journal", "x"}, {"ABC_5.2/Update.ini/x", "x"}};
         }),
         kClean, "warning", "archive", "\"ABC_5.2/UpdateFiles.journal\": the tool never uses it"},
        {"package named like the descriptor file", With([](Recipe &r) {
             r.Top = "Update.ini";
             r.FileName = "Update.ini.zip";
         }),
         kErrors, "error", "archive", "would bear the name of the tool's own file Update.ini"},
        {"entry climbing out", With([](Recipe &r) {
             r.By = Maker::Python;
             r.Extra = {{"../evil.txt", "x"}};
         }),
         kErrors, "error", "archive", "entry \"../evil.txt\""},
        {"script in other case", With([](Recipe &r) {
             r.Script.reset();
             r.Extra = {{"ABC_5.2/updatesql.sql", kScript}};
         }),
         kClean, "warning", "archive", "letter case counts"},
        {"nothing to do", With([](Recipe &r) {
             r.Script.reset();
             r.Files.clear();
             r.Comment = Descriptor({{"SQLCount", "0"}});
         }),
         kClean, "warning", "archive", "the upgrade changes nothing"},
        // script
        {"missing end marker",
         script("-- sql begin one\nSELECT 1\n-- sql begin two\nSELECT 2\n-- end sql\n"), kErrors,
         "error", "script", "UpdateSQL.sql:1: block \"one\" has no end marker"},
        {"missing last end marker", script(kScript + "-- sql begin three\nSELECT 3\n"), kErrors,
         "error", "script", "block \"three\" has no end marker: its lines are dropped (line 10)"},
        {"doubled end marker", script(kScript + "-- end sql\n"), kErrors, "error", "script",
         "UpdateSQL.sql:9: a second end marker"},
        {"empty block", script(kScript + "-- sql begin empty\n-- end sql\n"), kErrors, "error",
         "script", "block \"empty\" has no statement"},
        {"lines outside blocks", script("SELECT 0\r\n" + kScript), kClean, "warning", "script",
         "line 1 stands outside any block"},
        {"repeated block name", script(kScript + "-- sql begin fill\nSELECT 3\n-- end sql\n"),
         kClean, "warning", "script", "block name \"fill\" is used before (line 4)"},
        {"block count differs", comment(Descriptor({{"SQLCount", "3"}})), kClean, "warning",
         "descriptor", "3 but the script has 2 blocks"},
        {"block count missing", comment(Descriptor({{"SQLCount", std::nullopt}})), kClean,
         "warning", "descriptor", "missing: the script has 2 blocks"},
        {"script in GB18030",
         script("-- sql begin \xD1\xDD\xCA\xBE\r\nSELECT 1\r\n-- end sql\r\n-- sql begin "
                "b\r\nSELECT 2\r\n-- end sql\r\n"),
         kClean, "note", "script", "read as GB18030"},
        {"no block", script("SELECT 1\n"), kClean, "warning", "script", "no block: nothing runs"},
        // unreadable
        {"not an archive", With([](Recipe &r) { r.Raw = std::string(300, 'z'); }), kUnreadable,
         "error", "archive", "the comment cannot be read"},
    };
    for (const Case &c : cases) {
        const std::string package = packages.Make(c.recipe);
        int code = -1;
        const json report = CheckJson(package, code);
        EXPECT_EQ(code, c.code) << c.what << "\n" << report.dump(1);
        EXPECT_TRUE(HasFinding(report, c.severity, c.area, c.mention))
            << c.what << ": no " << c.severity << " in " << c.area << " mentioning " << c.mention
            << "\n"
            << report.dump(1);
    }
}

TEST(Kxpack, TextOutputAndExitCodesOfTheCommandLine)
{
    Packages packages;
    const std::string good = packages.Make({});
    const std::string broken = packages.Make(With([](Recipe &r) {
        r.Comment = Descriptor({{"corp", "Glenmarsh"}});
    }));
    const struct {
        const char *what;
        std::vector<std::string> args;
        int code;
        std::string mention;
    } cases[] = {
        {"good", {"check", good}, kClean, "0 errors, 0 warnings"},
        {"broken", {"check", broken}, kErrors, "error   descriptor Update.ini [CONFIG] corp"},
        {"missing file",
         {"check", packages.Temp().Slashed() + "none.zip"},
         kUnreadable,
         "no such file"},
        {"no command", {}, kBadCommand, "usage:"},
        {"unknown command", {"pack", good}, kBadCommand, "unknown command"},
        {"option of another command",
         {"blocks", good, "--registry", "x"},
         kBadCommand,
         "does not take"},
        {"two packages", {"check", good, good}, kBadCommand, "one package file"},
        {"help", {"--help"}, kClean, "exit codes:"},
    };
    for (const auto &c : cases) {
        const Outcome run = RunKxpack(c.args);
        EXPECT_EQ(run.Code, c.code) << c.what << "\n" << run.Output;
        EXPECT_NE(run.Output.find(c.mention), std::string::npos) << c.what << "\n" << run.Output;
    }
}

TEST(Kxpack, NeedsTheArchiverBesideIt)
{
    Packages packages;
    const std::string good = packages.Make({});
    TempFolder alone;
    fs::copy_file(BinDir() / "kxpack", alone.Path() / "kxpack");
    const ProgramOutcome run = RunProgramToEnd({(alone.Path() / "kxpack").string(), "check", good});
    EXPECT_EQ(run.ExitCode, kUnreadable);
    EXPECT_NE(run.Messages.find("KX_Rar.exe is missing"), std::string::npos) << run.Messages;
}

// A program folder stand-in for the real scan.
class NoView : public IScanView {
public:
    void ShowNoPackage() override {}
    void ShowPackage(const std::string &, const std::string &, const std::string &,
                     const std::string &) override
    {
    }
};

TEST(Kxpack, CheckWithARegistryAgreesWithTheScan)
{
    Packages packages;
    const std::string registered = "REGEDIT4\r\n\r\n"
                                   "[HKEY_LOCAL_MACHINE\\Software\\vazerodu\\ABC\\ClientConfigure]"
                                   "\r\n\"Version\"=\"5\"\r\n\"Build\"=\"5.10\"\r\n";
    struct Case {
        const char *what;
        Keys descriptor;
        std::string store;
        bool accepted;
        const char *reason;
    };
    const Case cases[] = {
        {"newer build", {{"Build", "5.2"}}, registered, true, "accepted"},
        {"same build", {{"Build", "5.10"}}, registered, true, "accepted"},
        {"older build", {{"Build", "5.1"}}, registered, false, "build older"},
        // "5.9" sorts after "5.10" as text, though 9 < 10.
        {"builds compare as texts", {{"Build", "5.9"}}, registered, true, "accepted"},
        {"other version", {{"Version", "6"}}, registered, false, "version differs"},
        {"version with a blank after it", {{"Version", "5 "}}, registered, true, "accepted"},
        {"other product", {{"RegValue", "XYZ"}}, registered, false, "not registered"},
        {"product code in other case", {{"RegValue", "abc"}}, registered, true, "accepted"},
        {"maker in other case", {{"corp", "GLENMARSH"}}, registered, false, "maker"},
        {"empty store", {}, "REGEDIT4\r\n", false, "not registered"},
        {"build stored as a number",
         {},
         "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\vazerodu\\ABC\\ClientConfigure]\r\n"
         "\"Version\"=\"5\"\r\n\"Build\"=dword:00000005\r\n",
         false,
         "error"},
    };
    for (const Case &c : cases) {
        TempFolder world;
        const std::string package =
            packages.Make(With([&](Recipe &r) { r.Comment = Descriptor(c.descriptor); }));
        world.Write("registry.reg", c.store);
        const std::string store = world.Slashed() + "registry.reg";

        int code = -1;
        const json report = CheckJson(package, code, {"--registry", store});
        ASSERT_TRUE(report.contains("scan")) << c.what << "\n" << report.dump(1);
        const bool checkAccepts = report["scan"]["verdict"] == "accepted";
        EXPECT_NE(report["scan"]["reason"].get<std::string>().find(c.reason), std::string::npos)
            << c.what << "\n"
            << report.dump(1);

        // The tool's scan on a program folder with the same package and store.
        const std::string program = world.Slashed() + "prog/";
        fs::create_directories(program);
        fs::copy_file(BinDir() / "KX_Rar.exe", program + "KX_Rar.exe");
        fs::copy_file(package, program + "ABC_5.2.zip");
        NoView view;
        RecordingWindow window;
        PosixFileSystem files;
        PosixProcesses processes;
        RegFileRegistry registry(store);
        ScanContext context{.ProgramFolder = program,
                            .View = view,
                            .Window = window,
                            .Files = files,
                            .Processes = processes,
                            .Registry = registry};
        T_PackageInfo accepted;
        T_ProductReg product;
        FindUpgradePackage(context, accepted, product);
        const bool scanAccepts = !accepted.PackageName.empty();

        EXPECT_EQ(checkAccepts, c.accepted) << c.what << "\n" << report.dump(1);
        EXPECT_EQ(scanAccepts, c.accepted) << c.what;
        EXPECT_EQ(code, c.accepted ? kClean : kErrors) << c.what;
    }
}

TEST(Kxpack, SameBuildNeedsTheForceCheckBox)
{
    Packages packages;
    TempFolder world;
    world.Write("registry.reg", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\vazerodu\\ABC\\"
                                "ClientConfigure]\r\n\"Version\"=\"5\"\r\n\"Build\"=\"5.2\"\r\n");
    int code = -1;
    const json report =
        CheckJson(packages.Make({}), code, {"--registry", world.Slashed() + "registry.reg"});
    EXPECT_EQ(code, kClean);
    EXPECT_EQ(report["scan"]["forceNeeded"], true);
    EXPECT_TRUE(HasFinding(report, "warning", "scan", "\"强制升级\""));
    // The check reads a copy: the scan's new ApplicationPath key is not added to the store.
    EXPECT_EQ(ReadWholeFile(world.Path() / "registry.reg").find("ApplicationPath"),
              std::string::npos);
}

TEST(Kxpack, RegistryWithoutAStoreIsThisMachinesStore)
{
    Packages packages;
    TempFolder world;
    const std::string store = world.Slashed() + "machine.reg";
    const std::string bytes = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\vazerodu\\ABC\\"
                              "ClientConfigure]\r\n\"Version\"=\"5\"\r\n\"Build\"=\"5.1\"\r\n";
    world.Write("machine.reg", bytes);
    const std::string package = packages.Make({});
    // The tool's own store, as the program finds it; last or before another option.
    setenv("KX_REGISTRY", store.c_str(), 1);
    for (const auto &args : {std::vector<std::string>{"check", package, "--registry", "--json"},
                             std::vector<std::string>{"check", package, "--json", "--registry"}}) {
        const Outcome run = RunKxpack(args);
        const json report = json::parse(run.Output, nullptr, false);
        EXPECT_EQ(run.Code, kClean) << run.Output;
        ASSERT_TRUE(report.contains("scan")) << run.Output;
        EXPECT_EQ(report["scan"]["store"], store);
        EXPECT_EQ(report["scan"]["verdict"], "accepted");
    }
    unsetenv("KX_REGISTRY");
    EXPECT_EQ(ReadWholeFile(store), bytes);
}

// With this machine's registration, the driver the product's database kind would take from
// this machine's driver manager: here a private driver list of vendors' names.
TEST(Kxpack, RegistryOfThisMachineNamesTheDriverTheKindWouldUse)
{
    Packages packages;
    TempFolder world;
    const std::string store = world.Slashed() + "machine.reg";
    world.Write("machine.reg", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\vazerodu\\ABC\\"
                               "ClientConfigure]\r\n\"Version\"=\"5\"\r\n\"Build\"=\"5.1\"\r\n");
    world.Write("odbc/odbcinst.ini", "[MariaDB Unicode]\nDriver=/nonexistent/libmaodbc.so\n\n"
                                     "[ODBC Driver 17 for SQL Server]\nDriver=/nonexistent/x.so\n");
    world.Write("odbc/odbc.ini", "");
    const char *shared = std::getenv("ODBCSYSINI");
    const std::string saved = shared ? shared : "";
    setenv("KX_REGISTRY", store.c_str(), 1);
    setenv("ODBCSYSINI", (world.Slashed() + "odbc").c_str(), 1);
    struct Case {
        const char *dbType;
        int code;
        std::string driver;
    };
    for (const Case &c :
         {Case{"1", kClean, "MariaDB Unicode"}, Case{"0", kClean, "ODBC Driver 17 for SQL Server"},
          Case{"2", kErrors, ""}}) {
        const std::string package = packages.Make(With([&](Recipe &r) {
            r.Comment = Descriptor({{"DbType", c.dbType}});
        }));
        const Outcome run = RunKxpack({"check", package, "--registry", "--json"});
        const json report = json::parse(run.Output, nullptr, false);
        EXPECT_EQ(run.Code, c.code) << run.Output;
        ASSERT_TRUE(report.contains("driver")) << run.Output;
        EXPECT_EQ(report["driver"]["driver"], c.driver) << c.dbType;
        EXPECT_EQ(HasFinding(report, "error", "driver",
                             "Oracle: tried \"MSDAORA.1\", \"Oracle in <home>\""),
                  c.driver.empty())
            << run.Output;
        // The text form says it in one line.
        const Outcome text = RunKxpack({"check", package, "--registry"});
        EXPECT_NE(text.Output.find(c.driver.empty()
                                       ? std::string("driver: none for Oracle on this machine")
                                       : "through \"" + c.driver + "\" on this machine"),
                  std::string::npos)
            << text.Output;
    }
    // A store of another machine says nothing of this machine's drivers.
    const Outcome other = RunKxpack({"check", packages.Make({}), "--registry", store, "--json"});
    EXPECT_FALSE(json::parse(other.Output, nullptr, false).contains("driver")) << other.Output;
    unsetenv("KX_REGISTRY");
    setenv("ODBCSYSINI", saved.c_str(), 1);
}

TEST(Kxpack, BlocksAreWhatTheScriptStageSends)
{
    const std::string scripts[] = {
        kScript,
        "stray\n-- sql begin a\nSELECT 1\n-- end sql\n-- end sql\n-- sql begin:b\n  SELECT 2 \n"
        "\n SELECT 3\n-- end sql trailing\nleft over\n",
        "\xEF\xBB\xBF-- sql begin \xD1\xDD\xCA\xBE\r\nSELECT '\xD6\xD0'\r\n-- end sql\r\n\x1A"
        "-- sql begin after\r\nSELECT 9\r\n-- end sql\r\n",
    };
    Packages packages;
    for (const std::string &script : scripts) {
        const std::string package = packages.Make(With([&](Recipe &r) { r.Script = script; }));
        const Outcome run = RunKxpack({"blocks", package, "--json"});
        ASSERT_EQ(run.Code, kClean) << run.Output;
        const json blocks = json::parse(run.Output)["blocks"];

        TempFolder temp;
        temp.Write("prog/TempUpdate/ABC_5.2/UpdateSQL.sql", script);
        UpgradeParts parts;
        parts.Package.PackageName = "ABC_5.2.zip";
        FakeConnection connection;
        FakeQuery query;
        FakeCommand command;
        PosixFileSystem files;
        UpgradeContext context = parts.Context(temp.Slashed() + "prog/", files, connection, query,
                                               command, parts.Processes);
        ASSERT_TRUE(RunUpgradeScripts(context, true));

        std::vector<std::string> listed;
        for (const json &block : blocks)
            listed.push_back(block["command"]);
        EXPECT_EQ(listed, command.Executed) << run.Output;
    }
    // Names and line ranges of the second script.
    const Outcome run = RunKxpack(
        {"blocks", packages.Make(With([&](Recipe &r) { r.Script = scripts[1]; })), "--json"});
    const json blocks = json::parse(run.Output)["blocks"];
    ASSERT_EQ(blocks.size(), 3u) << run.Output;
    EXPECT_EQ(blocks[0]["name"], "a");
    EXPECT_EQ(blocks[0]["firstLine"], 2);
    EXPECT_EQ(blocks[0]["lastLine"], 4);
    EXPECT_EQ(blocks[1]["command"], "");
    EXPECT_EQ(blocks[2]["name"], "b");
    EXPECT_EQ(blocks[2]["command"], "SELECT 2\r\nSELECT 3");
}

TEST(Kxpack, FilesSaysWhatIsNewAndWhatIsReplaced)
{
    Packages packages;
    const std::string package = packages.Make(With([](Recipe &r) {
        r.Files = {{"bin/app.conf", "v2\n"}, {"docs/new.txt", "new"}, {"lib", "a file"}};
    }));
    TempFolder product;
    product.Write("bin/app.conf", "v1\n");
    fs::create_directories(product.Path() / "lib");
    const Outcome run = RunKxpack({"files", package, "--product", product.Slashed(), "--json"});
    ASSERT_EQ(run.Code, kClean) << run.Output;
    const json report = json::parse(run.Output);
    std::map<std::string, std::string> status;
    for (const json &f : report["files"])
        status[f["path"]] = f["status"];
    const std::map<std::string, std::string> expected = {{"bin/app.conf", "replaced"},
                                                         {"docs/new.txt", "new"},
                                                         {"lib", "blocked: a folder stands there"}};
    EXPECT_EQ(status, expected);
    EXPECT_EQ(report["bytes"], 3 + 3 + 6);
}

// A link planted where make once wrote its temporary file is never written through.
TEST(Kxpack, MakeNeverWritesThroughALinkBesideItsPackage)
{
    TempFolder temp;
    temp.Write("src/UpdateSQL.sql", kScript);
    temp.Write("out/Update.ini", Descriptor());
    temp.Write("victim.txt", "victim");
    fs::create_symlink(temp.Path() / "victim.txt", temp.Path() / "out/.ABC_5.2.zip.kxpack-tmp");
    const std::string out = temp.Slashed() + "out/ABC_5.2.zip";
    const Outcome run = RunKxpack({"make", "--descriptor", temp.Slashed() + "out/Update.ini",
                                   "--sql", temp.Slashed() + "src/UpdateSQL.sql", out});
    EXPECT_EQ(run.Code, kClean) << run.Output;
    EXPECT_EQ(ReadWholeFile(temp.Path() / "victim.txt"), "victim");
    EXPECT_TRUE(fs::is_symlink(temp.Path() / "out/.ABC_5.2.zip.kxpack-tmp"));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(out)));
    // Nothing else is left beside it: the descriptor, the link and the package.
    EXPECT_EQ(std::distance(fs::directory_iterator(temp.Path() / "out"), {}), 3);
}

TEST(Kxpack, MakeLeavesOnlyPackagesThatPass)
{
    TempFolder temp;
    temp.Write("src/UpdateSQL.sql", kScript);
    temp.Write("src/files/bin/app.conf", "v2\n");
    const std::string src = temp.Slashed() + "src/";
    const struct {
        const char *what;
        std::string descriptor;
        int code;
        std::string mention;
    } cases[] = {
        {"count filled in", Descriptor({{"SQLCount", std::nullopt}}), kClean, "SQLCount=2 added"},
        {"count as given", Descriptor(), kClean, "made "},
        {"count differs", Descriptor({{"SQLCount", "3"}}), kErrors, "SQLCount is 3"},
        {"wrong maker", Descriptor({{"corp", "acme"}}), kErrors, "none made"},
    };
    int n = 0;
    for (const auto &c : cases) {
        const std::string dir = "out" + std::to_string(++n) + "/";
        temp.Write(dir + "Update.ini", c.descriptor);
        const std::string out = temp.Slashed() + dir + "ABC_5.2.zip";
        const Outcome run =
            RunKxpack({"make", "--descriptor", temp.Slashed() + dir + "Update.ini", "--sql",
                       src + "UpdateSQL.sql", "--files", src + "files", out});
        EXPECT_EQ(run.Code, c.code) << c.what << "\n" << run.Output;
        EXPECT_NE(run.Output.find(c.mention), std::string::npos) << c.what << "\n" << run.Output;
        EXPECT_EQ(fs::exists(out), c.code == kClean) << c.what;
        // Only the package is left in the folder.
        EXPECT_EQ(std::distance(fs::directory_iterator(temp.Path() / dir), {}),
                  c.code == kClean ? 2 : 1)
            << c.what;
        if (c.code != kClean)
            continue;
        int code = -1;
        const json report = CheckJson(out, code);
        EXPECT_EQ(code, kClean) << c.what << "\n" << report.dump(1);
        EXPECT_EQ(report.value("warnings", -1), 0) << c.what << "\n" << report.dump(1);
        // The descriptor is the comment byte for byte, with only the count added.
        const std::string comment = temp.Slashed() + dir + "comment.ini";
        const ProgramOutcome cw =
            RunProgramToEnd({(BinDir() / "KX_Rar.exe").string(), "cw", "-y", out, comment});
        ASSERT_EQ(cw.ExitCode.value_or(-1), 0);
        const std::string expected = c.descriptor.starts_with("[CONFIG]\r\n") &&
                                             c.descriptor.find("SQLCount") == std::string::npos
                                         ? "[CONFIG]\r\nSQLCount=2\r\n" + c.descriptor.substr(10)
                                         : c.descriptor;
        EXPECT_EQ(ReadWholeFile(comment), expected) << c.what;
        fs::remove(comment);
    }
    const Outcome badName = RunKxpack(
        {"make", "--descriptor", temp.Slashed() + "out1/Update.ini", temp.Slashed() + "x.tar"});
    EXPECT_EQ(badName.Code, kBadCommand) << badName.Output;
}

// kxpack sign writes what the real minisign verifies, from keys that minisign made, with and
// without a password; check --key and check --registry report a missing or bad signature.
TEST(Kxpack, SignWritesWhatMinisignVerifiesAndCheckReportsBadSignatures)
{
    Packages packages;
    TempFolder keys;
    const std::string dir = keys.Slashed();
    ASSERT_EQ(std::system(
                  ("minisign -G -W -p '" + dir + "plain.pub' -s '" + dir + "plain.key' >/dev/null")
                      .c_str()),
              0);
    // minisign asks for the password twice; without a terminal it reads the lines given.
    ASSERT_EQ(std::system(("printf 'pass word\\npass word\\n' | minisign -G -p '" + dir +
                           "locked.pub' -s '" + dir + "locked.key' >/dev/null 2>&1")
                              .c_str()),
              0);
    ASSERT_EQ(std::system(
                  ("minisign -G -W -p '" + dir + "other.pub' -s '" + dir + "other.key' >/dev/null")
                      .c_str()),
              0);
    const auto verifies = [&](const std::string &package, const std::string &pub) {
        const ProgramOutcome out = RunProgramToEnd(
            {"/bin/sh", "-c", "minisign -Vm '" + package + "' -p '" + dir + pub + "' 2>&1"});
        return out.ExitCode.value_or(-1) == 0 ? out.Messages : std::string();
    };

    struct Case {
        const char *what;
        const char *key;
        const char *password; // nullptr: KXPACK_KEY_PASSWORD unset
        int code;
        const char *pub;
    };
    const Case cases[] = {
        {"key without a password", "plain.key", nullptr, kClean, "plain.pub"},
        {"key with its password", "locked.key", "pass word", kClean, "locked.pub"},
        {"wrong password", "locked.key", "guess", kErrors, nullptr},
        {"not a key", "plain.pub", nullptr, kErrors, nullptr},
    };
    for (const Case &c : cases) {
        const std::string package = packages.Make({});
        if (c.password)
            setenv("KXPACK_KEY_PASSWORD", c.password, 1);
        const Outcome run = RunKxpack({"sign", "--key", dir + c.key, package});
        unsetenv("KXPACK_KEY_PASSWORD");
        EXPECT_EQ(run.Code, c.code) << c.what << "\n" << run.Output;
        if (c.code != kClean) {
            EXPECT_FALSE(fs::exists(package + ".minisig")) << c.what;
            continue;
        }
        const std::string said = verifies(package, c.pub);
        EXPECT_NE(said.find("Signature and comment signature verified"), std::string::npos)
            << c.what << "\n"
            << said;
        EXPECT_NE(said.find("file:ABC_5.2.zip\tproduct:ABC\tbuild:5.2\thashed"), std::string::npos)
            << c.what << "\n"
            << said;
        // The same key, read from its .pub file, clears check; another key does not.
        EXPECT_EQ(RunKxpack({"check", package, "--key", dir + c.pub}).Code, kClean) << c.what;
        const Outcome other = RunKxpack({"check", package, "--key", dir + "other.pub"});
        EXPECT_EQ(other.Code, kErrors) << c.what;
        EXPECT_NE(other.Output.find("signed with another key"), std::string::npos) << other.Output;
    }

    // Missing and changed, against a key and against the registration's PackageKey.
    const std::string pubText = ReadWholeFile(dir + "plain.pub");
    const std::string line = pubText.substr(pubText.find('\n') + 1, 56);
    TempFolder world;
    world.Write("registry.reg",
                "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\vazerodu\\ABC\\ClientConfigure]"
                "\r\n\"Version\"=\"5\"\r\n\"Build\"=\"5.1\"\r\n\"PackageKey\"=\" " +
                    line + " ;\"\r\n");
    const std::string store = world.Slashed() + "registry.reg";
    const std::string unsigned_ = packages.Make({});
    for (const std::vector<std::string> &with :
         {std::vector<std::string>{"--key", dir + "plain.pub"},
          std::vector<std::string>{"--registry", store}}) {
        std::vector<std::string> args{"check", unsigned_};
        args.insert(args.end(), with.begin(), with.end());
        const Outcome missing = RunKxpack(args);
        EXPECT_EQ(missing.Code, kErrors) << with[0] << "\n" << missing.Output;
        EXPECT_NE(missing.Output.find("signature missing"), std::string::npos) << missing.Output;
        ASSERT_EQ(RunKxpack({"sign", "--key", dir + "plain.key", unsigned_}).Code, kClean);
        EXPECT_EQ(RunKxpack(args).Code, kClean) << with[0] << "\n" << RunKxpack(args).Output;
        {
            std::fstream file(unsigned_, std::ios::in | std::ios::out | std::ios::binary);
            file.seekp(40);
            file.put('#');
        }
        const Outcome changed = RunKxpack(args);
        EXPECT_EQ(changed.Code, kErrors) << with[0] << "\n" << changed.Output;
        EXPECT_NE(changed.Output.find("does not match the package"), std::string::npos)
            << changed.Output;
        fs::remove(unsigned_);
        fs::remove(unsigned_ + ".minisig");
        fs::copy_file(packages.Make({}), unsigned_);
    }

    // make --sign-key signs what it makes.
    TempFolder temp;
    temp.Write("Update.ini", Descriptor());
    temp.Write("UpdateSQL.sql", kScript);
    const std::string out = temp.Slashed() + "ABC_5.2.zip";
    const Outcome made =
        RunKxpack({"make", "--descriptor", temp.Slashed() + "Update.ini", "--sql",
                   temp.Slashed() + "UpdateSQL.sql", "--sign-key", dir + "plain.key", out});
    EXPECT_EQ(made.Code, kClean) << made.Output;
    EXPECT_NE(verifies(out, "plain.pub").find("product:ABC\tbuild:5.2"), std::string::npos);
}

} // namespace

} // namespace kxpack
