// The scan on real packages in a temporary program folder, with the real archiver, the
// system's file system, processes and registry (tests/support/package_scan_fixture.h).

#include "package/package_scan.h"

#include "product/secretkey.h"
#include "tests/support/package_scan_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace offline_upgrade {

namespace fs = std::filesystem;

namespace {

const std::string kPasswordKey = "\x0B\x17\x02\x1C\x09\x12\x04\x1E\x0D\x15\x07\x19\x10\x03";

// Copied as the archiver, this program stands in for it (archiver_stand_in.h).
const bool kStoodIn = ActAsArchiverIfAsked();

TEST_F(PackageScan, NoPackageLeavesTheNoPackageStateAndTheWorkingDirectory)
{
    Package.Soft = "left from an earlier scan";
    Product.ProductCode = "OLD";
    Scan();
    EXPECT_EQ(view.Calls, std::vector<std::string>{"none"});
    EXPECT_EQ(Package, T_PackageInfo{});
    EXPECT_EQ(Product, T_ProductReg{});
    EXPECT_EQ(fs::current_path(), startDir);
    EXPECT_TRUE(processes.Started.empty());
    EXPECT_GE(window.Pumps, 1); // the reset is pumped once so that it shows
}

TEST_F(PackageScan, OneFittingPackageIsAccepted)
{
    Descriptor d;
    d.PackageName = "something_else.zip";
    MakePackage("demo_20.zip", d);
    Scan();

    ASSERT_EQ(view.Calls.size(), 2u);
    EXPECT_EQ(view.Calls[1], "package:Demo|20|20|" + program + "demo_20.zip");
    EXPECT_EQ(Package.corp, "glenmarsh");
    EXPECT_EQ(Package.PackagePath, program);
    EXPECT_EQ(Package.PackageName, "demo_20.zip"); // the listed name, not the descriptor's
    EXPECT_EQ(Package.SQLCount, 3);
    EXPECT_EQ(Package.DbType, 1);
    EXPECT_EQ(Product.ProductCode, Code("ABC"));
    EXPECT_EQ(Product.Path, "/opt/demo");
    EXPECT_EQ(Product.PassWord, "secret"); // Base64 decoded for a MySQL product
    EXPECT_EQ(fs::current_path(), startDir);
    ASSERT_EQ(processes.Started.size(), 1u);
    EXPECT_EQ(processes.Started[0], "\"" + program + "KX_Rar.exe\" cw -y \"" + program +
                                        "demo_20.zip\" \"" + program + "TempUpdate/Update.ini\"");
}

TEST_F(PackageScan, OtherDatabaseKindsUnscrambleThePassword)
{
    const std::string stored = "\x51\x33\x7f\x20";
    RegisterProduct("SQL", "5", "20", stored);
    Descriptor d;
    d.RegValue = "SQL";
    d.DbType = "0";
    MakePackage("p.zip", d);
    Scan();
    ASSERT_EQ(Product.ProductCode, Code("SQL"));
    EXPECT_EQ(Product.PassWord, UnscramblePassword(stored, kPasswordKey));
}

TEST_F(PackageScan, RulesRejectInTheirOrder)
{
    struct Case {
        const char *what;
        Descriptor descriptor;
        bool accepted;
    };
    auto with = [](auto change) {
        Descriptor d;
        change(d);
        return d;
    };
    const Case cases[] = {
        {"fits", Descriptor{}, true},
        {"maker in other case", with([](Descriptor &d) { d.corp = "Glenmarsh"; }), false},
        {"no maker", with([](Descriptor &d) { d.corp = ""; }), false},
        {"product not registered", with([](Descriptor &d) { d.RegValue = "XYZ"; }), false},
        {"version differs", with([](Descriptor &d) { d.Version = "6"; }), false},
        {"version in other case", with([](Descriptor &d) {
             d.RegValue = "VER"; // registered with version "5A"
             d.Version = "5a";
         }),
         false},
        {"build below", with([](Descriptor &d) { d.Build = "19"; }), false},
        {"build 100 sorts below 20", with([](Descriptor &d) { d.Build = "100"; }), false},
        {"build 3 sorts above 20", with([](Descriptor &d) { d.Build = "3"; }), true},
        {"build longer", with([](Descriptor &d) { d.Build = "20a"; }), true},
    };
    RegisterProduct("VER", "5A", "20", "");
    for (size_t i = 0; i < std::size(cases); ++i) {
        fs::remove(folder.Path() / "p.zip");
        MakePackage("p.zip", cases[i].descriptor);
        Package = {};
        Scan();
        EXPECT_EQ(!Package.PackageName.empty(), cases[i].accepted)
            << "case " << i << ": " << cases[i].what;
    }
}

TEST_F(PackageScan, FirstInNameOrderWinsAndTheSecondIsNeverExamined)
{
    Descriptor first;
    first.Soft = "First";
    Descriptor second;
    second.Soft = "Second";
    MakePackage("b.zip", second);
    MakePackage("A.zip", first); // capital A sorts before b without regard to case
    Scan();
    EXPECT_EQ(Package.Soft, "First");
    ASSERT_EQ(processes.Started.size(), 1u);
    EXPECT_NE(processes.Started[0].find("A.zip"), std::string::npos);
}

TEST_F(PackageScan, ANamedPackageIsTheOnlyOneExamined)
{
    Descriptor first;
    first.Soft = "First";
    Descriptor second;
    second.Soft = "Second";
    MakePackage("A.zip", first);
    MakePackage("b.zip", second);
    onlyPackage = "b.zip";
    Scan();
    EXPECT_EQ(Package.Soft, "Second");
    ASSERT_EQ(processes.Started.size(), 1u);
    EXPECT_NE(processes.Started[0].find("b.zip"), std::string::npos);

    // Names are compared byte for byte; a name the listing does not hold finds nothing.
    for (const char *name : {"B.zip", "missing.zip"}) {
        processes.Started.clear();
        onlyPackage = name;
        Scan();
        EXPECT_EQ(Package.PackageName, "") << name;
        EXPECT_TRUE(processes.Started.empty()) << name;
    }
}

TEST_F(PackageScan, PatternMatchesWithoutRegardToCaseAndFoldersAreTried)
{
    fs::create_directory(folder.Path() / "a.zip");
    MakePackage("UPPER.ZIP", Descriptor{});
    folder.Write("notes.txt", "not a package");
    Scan();
    EXPECT_EQ(Package.PackageName, "UPPER.ZIP");
    ASSERT_EQ(processes.Started.size(), 2u); // the folder was handed to the archiver first
    EXPECT_NE(processes.Started[0].find("a.zip"), std::string::npos);
    EXPECT_NE(processes.Started[1].find("UPPER.ZIP"), std::string::npos);
}

TEST_F(PackageScan, FolderNamedLikeAPackageIsRejected)
{
    fs::create_directory(folder.Path() / "x.zip");
    Scan();
    EXPECT_TRUE(Package.PackageName.empty());
    EXPECT_EQ(processes.Started.size(), 1u);
}

TEST_F(PackageScan, PackagesWithoutAUsableCommentAreRejected)
{
    MakePackage("none.zip", nullptr);
    folder.Write("damaged.zip", "this is not an archive");
    Scan();
    EXPECT_TRUE(Package.PackageName.empty());
    EXPECT_EQ(processes.Started.size(), 2u);
}

TEST_F(PackageScan, EveryPackageLookedAtHasItsVerdictWithItsReasonInTheLog)
{
    const auto with = [](auto change) {
        Descriptor d;
        change(d);
        return d;
    };
    folder.Write("a_damaged.zip", "this is not an archive");
    MakePackage("b_no_comment.zip", nullptr);
    MakePackage("c_maker.zip", with([](Descriptor &d) { d.corp = "othercorp"; }));
    MakePackage("d_product.zip", with([](Descriptor &d) { d.RegValue = "XYZ"; }));
    MakePackage("e_version.zip", with([](Descriptor &d) { d.Version = "4"; }));
    MakePackage("f_older.zip", with([](Descriptor &d) { d.Build = "19"; }));
    MakePackage("g_same.zip", Descriptor{});
    struct Case {
        const char *name;
        std::vector<std::string> parts; // each must stand in the package's line
    };
    const Case cases[] = {
        {"a_damaged.zip",
         {"archiver exit code 2", "not a ZIP archive or damaged", "passed over: no descriptor"}},
        // The archiver writes an empty descriptor for an archive without a comment.
        {"b_no_comment.zip", {"archiver exit code 0", "passed over: maker \"\" is not accepted"}},
        {"c_maker.zip", {"archiver exit code 0", "passed over: maker \"othercorp\""}},
        {"d_product.zip", {"passed over: product \"" + Code("XYZ") + "\" is not registered"}},
        {"e_version.zip", {"passed over: version \"4\" differs from the installed version \"5\""}},
        {"f_older.zip", {"passed over: build \"19\" is not newer than the installed build \"20\""}},
        {"g_same.zip", {"accepted", "is the installed build", "force"}},
    };
    {
        LogRecorder log;
        Scan();
        ASSERT_EQ(Package.PackageName, "g_same.zip");
        for (size_t i = 0; i < std::size(cases); ++i) {
            const std::string line = VerdictOf(log, cases[i].name);
            for (const std::string &part : cases[i].parts)
                EXPECT_NE(line.find(part), std::string::npos)
                    << "case " << i << ": " << part << " not in: " << line;
        }
        // The stored password, neither as stored nor decoded.
        for (const std::string &line : log.Lines) {
            EXPECT_EQ(line.find("c2VjcmV0"), std::string::npos) << line;
            EXPECT_EQ(line.find("secret"), std::string::npos) << line;
        }
    }

    fs::remove(folder.Path() / "g_same.zip");
    MakePackage("h_newer.zip", with([](Descriptor &d) { d.Build = "21"; }));
    LogRecorder log;
    Scan();
    EXPECT_NE(VerdictOf(log, "h_newer.zip").find("accepted"), std::string::npos)
        << VerdictOf(log, "h_newer.zip");
    EXPECT_NE(VerdictOf(log, "h_newer.zip").find("over the installed build \"20\""),
              std::string::npos);
    fs::remove(folder.Path() / "h_newer.zip");
    Scan();
    EXPECT_EQ(log.Lines.back(), "scan: no package fits a product installed on this machine");
}

TEST_F(PackageScan, ArchiverStuckOnOnePackageIsEndedAndThePackagePassedOver)
{
    // The archiver hangs on the first package, as it would on a share that stopped
    // answering (the test program stands in for it, see kStoodIn).
    MakePackage("a_stuck.zip", Descriptor{});
    MakePackage("b_good.zip", Descriptor{});
    fs::remove(folder.Path() / "KX_Rar.exe");
    fs::copy_file(ThisProgram(), folder.Path() / "KX_Rar.exe");
    // Long enough for the good package's stand-in to start the real archiver in turn (under
    // Wine two program starts may take most of a second on a busy machine).
    commentWaitLimit = std::chrono::seconds(3);
    LogRecorder log;

    SetTestVariable(kStandInVariable, Archiver().string().c_str());
    Scan();
    SetTestVariable(kStandInVariable, nullptr);

    EXPECT_EQ(Package.PackageName, "b_good.zip");
    EXPECT_EQ(processes.Started.size(), 2u);
    // The archiver started for the stuck file has been ended, not left behind.
    EXPECT_FALSE(processes.IsProcessRunning("KX_Rar.exe"));
    ASSERT_EQ(log.Errors.size(), 1u);
    EXPECT_NE(log.Errors[0].find("a_stuck.zip"), std::string::npos) << log.Errors[0];
}

TEST_F(PackageScan, AForeignArchiverOutlivingTheLimitDoesNotPassThePackageOver)
{
    // Someone else's program that happens to be named KX_Rar.exe, running longer than the
    // limit: the wait goes on to the limit, then the package is examined, as ours has ended.
    // (This program, copied under that name, hangs on a "*_stuck.zip" argument.)
    TempFolder elsewhere;
    fs::copy_file(ThisProgram(), elsewhere.Path() / "KX_Rar.exe");
    SystemProcesses foreign;
    SetTestVariable(kStandInVariable, Archiver().string().c_str());
    const bool started =
        foreign.Start("\"" + (elsewhere.Path() / "KX_Rar.exe").string() + "\" x_stuck.zip");
    SetTestVariable(kStandInVariable, nullptr);
    ASSERT_TRUE(started);
    MakePackage("p.zip", Descriptor{});
    commentWaitLimit = std::chrono::seconds(3);
    LogRecorder log;
    Scan();
    EXPECT_EQ(Package.PackageName, "p.zip");
    EXPECT_EQ(view.Calls.back(), "package:Demo|20|20|" + program + "p.zip");
    EXPECT_TRUE(log.Errors.empty()) << log.Errors[0];
    EXPECT_FALSE(foreign.LastHasEnded()); // the foreign program was left alone
    EXPECT_TRUE(foreign.EndLast());
}

TEST_F(PackageScan, StaleDescriptorIsNeverInherited)
{
    // A descriptor that would fit, left by an earlier run; the archiver writes none for the
    // damaged package, so nothing may be accepted.
    folder.Write("TempUpdate/Update.ini", Descriptor{}.Text(Code("ABC")));
    folder.Write("damaged.zip", "this is not an archive");
    Scan();
    EXPECT_TRUE(Package.PackageName.empty());
    EXPECT_FALSE(fs::exists(folder.Path() / "TempUpdate/Update.ini"));
}

// A package whose folder in the work folder would bear the name of a file of the tool's is
// passed over before the archiver sees it; a folder an unpack left where the descriptor goes
// is cleared, so that the next package still gets its descriptor.
TEST_F(PackageScan, NamesOfTheToolsFilesAndWhatAnUnpackLeftNeverStopTheScan)
{
    const struct {
        const char *name;
        const char *logged;
    } refused[] = {
        {"Update.ini.zip", "its folder TempUpdate/Update.ini would bear the name of the tool's "
                           "own file Update.ini"},
        {"UpdateFiles.journal.zip", "the tool's own file UpdateFiles.journal"},
        {"offline-upgrade.lock.zip", "the tool's own file offline-upgrade.lock"},
        {"update.INI. .zip", "the tool's own file Update.ini"},
        {"...zip", "which is no folder of its own"},
    };
    for (const auto &r : refused)
        MakePackage(r.name, Descriptor{});
    MakePackage("z_good.zip", Descriptor{});
    folder.Write("TempUpdate/Update.ini/left.txt", "an entry of an earlier package");
    LogRecorder log;

    Scan();

    EXPECT_EQ(Package.PackageName, "z_good.zip");
    EXPECT_EQ(processes.Started.size(), 1u);
    for (size_t i = 0; i < std::size(refused); ++i) {
        const std::string line = VerdictOf(log, refused[i].name);
        EXPECT_NE(line.find(": passed over: "), std::string::npos) << "case " << i << ": " << line;
        EXPECT_NE(line.find(refused[i].logged), std::string::npos) << "case " << i << ": " << line;
    }
}

TEST_F(PackageScan, MissingArchiverRejectsEveryPackage)
{
    fs::remove(folder.Path() / "KX_Rar.exe");
    MakePackage("p.zip", Descriptor{});
    Scan();
    EXPECT_TRUE(Package.PackageName.empty());
    EXPECT_EQ(view.Calls, std::vector<std::string>{"none"});
}

TEST_F(PackageScan, DescriptorWrittenInTheChineseCodePageShowsRight)
{
    Descriptor d;
    d.Soft = "\xB2\xFA\xC6\xB7"; // "产品" in GB18030
    MakePackage("p.zip", d);
    Scan();
    EXPECT_EQ(Package.Soft, "产品");
}

TEST_F(PackageScan, RefreshAfterThePackageWasRemovedTakesTheAcceptanceBack)
{
    MakePackage("p.zip", Descriptor{});
    Scan();
    ASSERT_EQ(Package.PackageName, "p.zip");
    fs::remove(folder.Path() / "p.zip");
    Scan();
    EXPECT_EQ(Package, T_PackageInfo{});
    EXPECT_EQ(Product, T_ProductReg{});
    EXPECT_EQ(view.Calls.back(), "none");
}

TEST_F(PackageScan, UnreachableProgramFolderIsAnErrorAndTheDirectoryStays)
{
    program = (folder.Path() / "missing").string() + "/";
    EXPECT_ANY_THROW(Scan());
    EXPECT_EQ(fs::current_path(), startDir);
}

} // namespace

TEST_F(SignedScan, SignatureCasesDecideTheAcceptance)
{
    struct Case {
        const char *what;
        std::string packageKey;
        std::function<void()> prepare; // after p.zip is made
        bool accepted;
        const char *logged;
    };
    const Case cases[] = {
        {"good", first.PublicLine(), [&] { Sign(first, "p.zip"); }, true, "signed by key"},
        {"unsigned", first.PublicLine(), [] {}, false, "no signature file"},
        {"other key", first.PublicLine(), [&] { Sign(stranger, "p.zip"); }, false,
         "which is not in the product's PackageKey"},
        {"two keys, the second signs", first.PublicLine() + ";" + second.PublicLine(),
         [&] { Sign(second, "p.zip"); }, true, "signed by key"},
        {"one byte changed", first.PublicLine(),
         [&] {
             Sign(first, "p.zip");
             Flip("p.zip", 10); // the local header's time: the comment still reads
         },
         false, "does not match the package's bytes"},
        {"trusted comment altered", first.PublicLine(),
         [&] {
             std::string text = Sign(first, "p.zip");
             text.replace(text.find("file:p.zip"), 10, "file:q.zip");
             folder.Write("p.zip.minisig", text);
         },
         false, "it was altered"},
        {"legacy signature", first.PublicLine(), [&] { Sign(first, "p.zip", false); }, true,
         "legacy signature"},
        {"malformed file", first.PublicLine(),
         [&] { folder.Write("p.zip.minisig", "untrusted comment: x\n\n\n\n"); }, false,
         "is malformed"},
        {"key value with blanks and ;",
         " " + first.PublicLine() + " ;\t ; " + second.PublicLine() + " ",
         [&] { Sign(second, "p.zip"); }, true, "signed by key"},
        {"no key in the value", "RWQ;nonsense", [&] { Sign(first, "p.zip"); }, false,
         "holds no minisign public key"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(std::string("case ") + std::to_string(i) + ": " + cases[i].what);
        registrations.Clear();
        RegisterProduct("ABC", "5", "20", "c2VjcmV0", cases[i].packageKey);
        fs::remove(folder.Path() / "p.zip");
        fs::remove(folder.Path() / "p.zip.minisig");
        Descriptor d;
        d.Build = "21";
        MakePackage("p.zip", d);
        cases[i].prepare();
        Package = {};
        LogRecorder log;
        Scan();
        EXPECT_EQ(Package.PackageName, cases[i].accepted ? "p.zip" : "");
        EXPECT_EQ(Package.SignedDigest.size(), cases[i].accepted ? 64u : 0u);
        const std::string line = VerdictOf(log, "p.zip");
        EXPECT_NE(line.find(cases[i].logged), std::string::npos) << line;
        if (!cases[i].accepted) {
            EXPECT_NE(line.find("passed over: product \"" + Code("ABC") +
                                "\" takes only signed packages"),
                      std::string::npos)
                << line;
        }
        for (const std::string &l : log.Lines)
            EXPECT_EQ(l.find("are not verified"), std::string::npos) << l;
    }
}

TEST_F(SignedScan, ASignatureFailureIsNotTheEndOfTheScan)
{
    registrations.Clear();
    RegisterProduct("ABC", "5", "20", "c2VjcmV0", first.PublicLine());
    Descriptor d;
    d.Build = "21";
    MakePackage("a.zip", d);
    MakePackage("b.zip", d);
    Sign(stranger, "a.zip");
    Sign(first, "b.zip");
    Scan();
    EXPECT_EQ(Package.PackageName, "b.zip");
}

TEST_F(SignedScan, WithoutPackageKeyTheLogSaysOncePerScanThatNothingIsVerified)
{
    Descriptor older;
    older.Build = "19";
    MakePackage("a.zip", older);
    MakePackage("b.zip", older);
    MakePackage("c.zip", Descriptor{});
    LogRecorder log;
    Scan();
    EXPECT_EQ(Package.PackageName, "c.zip");
    EXPECT_EQ(std::count_if(log.Lines.begin(), log.Lines.end(),
                            [&](const std::string &l) {
                                return l == "scan: packages for product \"" + Code("ABC") +
                                                "\" are not verified: its registration has no "
                                                "PackageKey";
                            }),
              1);
}

} // namespace offline_upgrade
