// Signed packages through whole upgrades: the program run unattended on a real program folder
// for each signature case, and the window whose package is swapped between the scan and the
// press. Keys and signatures are made at test time.

#include "tests/app/upgrade_world.h"

#include "tests/support/package_signer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace offline_upgrade {

namespace {

const std::string kComment = "timestamp:1\tfile:demo_5.2.zip\tproduct:E2E\tbuild:5.2\thashed";

struct Keys {
    TestSigningKey First = MakeTestSigningKey();
    TestSigningKey Second = MakeTestSigningKey();
    TestSigningKey Stranger = MakeTestSigningKey();
};

std::string LastLineOf(const std::string &text)
{
    std::istringstream in(text);
    std::string line, last;
    while (std::getline(in, line))
        last = line;
    return last;
}

// Writes the package's signature file, made over bytes (the package's own by default).
void SignPackage(UpgradeWorld &world, const TestSigningKey &key, bool prehashed = true,
                 const std::string &comment = kComment)
{
    const std::string bytes = ReadWholeFile(world.PackageFile());
    std::ofstream(world.PackageFile() + ".minisig", std::ios::binary)
        << SignBytesForTest(key, bytes, prehashed, comment);
}

void FlipByteInTheMiddle(const std::string &file)
{
    std::fstream archive(file, std::ios::in | std::ios::out | std::ios::binary);
    const auto at = static_cast<std::streamoff>(std::filesystem::file_size(file) / 2);
    archive.seekg(at);
    const char byte = static_cast<char>(archive.get() ^ 0x01);
    archive.seekp(at);
    archive.put(byte);
}

void AddPackageKey(UpgradeWorld &world, const std::string &value)
{
    world.EditRegistry("\"Build\"=\"5.1\"\r\n",
                       "\"Build\"=\"5.1\"\r\n\"PackageKey\"=\"" + value + "\"\r\n");
}

class SignedPackages : public ::testing::Test {
protected:
    static void SetUpTestSuite() { drivers_ = new DriverList; }
    static void TearDownTestSuite()
    {
        delete drivers_;
        drivers_ = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(TestDatabaseReady()); }

    static DriverList *drivers_;
    Keys keys;
};
DriverList *SignedPackages::drivers_ = nullptr;

struct Row {
    const char *Name;
    // Signs (or not) the package made in world, and says the PackageKey value ("": none).
    std::function<std::string(UpgradeWorld &, const Keys &)> Prepare;
    bool Upgrades;
    const char *Logged; // in the scan's line for the package
};

const Row kRows[] = {
    {"good",
     [](UpgradeWorld &w, const Keys &k) {
         SignPackage(w, k.First);
         return k.First.PublicLine();
     },
     true, "signed by key "},
    {"unsigned", [](UpgradeWorld &, const Keys &k) { return k.First.PublicLine(); }, false,
     "no signature file"},
    {"other key",
     [](UpgradeWorld &w, const Keys &k) {
         SignPackage(w, k.Stranger);
         return k.First.PublicLine();
     },
     false, "is not in the product's PackageKey"},
    {"two keys, the second signs",
     [](UpgradeWorld &w, const Keys &k) {
         SignPackage(w, k.Second);
         return k.First.PublicLine() + ";" + k.Second.PublicLine();
     },
     true, "signed by key "},
    {"one byte of the package changed",
     [](UpgradeWorld &w, const Keys &k) {
         SignPackage(w, k.First);
         FlipByteInTheMiddle(w.PackageFile());
         return k.First.PublicLine();
     },
     false, "does not match the package's bytes"},
    {"trusted comment altered",
     [](UpgradeWorld &w, const Keys &k) {
         SignPackage(w, k.First);
         std::string text = ReadWholeFile(w.PackageFile() + ".minisig");
         text.replace(text.find("build:5.2"), 9, "build:9.9");
         std::ofstream(w.PackageFile() + ".minisig", std::ios::binary) << text;
         return k.First.PublicLine();
     },
     false, "it was altered"},
    {"legacy signature",
     [](UpgradeWorld &w, const Keys &k) {
         SignPackage(w, k.First, false);
         return k.First.PublicLine();
     },
     true, "(legacy signature)"},
    {"malformed signature file",
     [](UpgradeWorld &w, const Keys &k) {
         std::ofstream(w.PackageFile() + ".minisig", std::ios::binary)
             << "untrusted comment: x\nnot base64\n";
         return k.First.PublicLine();
     },
     false, "is malformed"},
    {"key value with blanks and ;",
     [](UpgradeWorld &w, const Keys &k) {
         SignPackage(w, k.Second);
         return "  " + k.First.PublicLine() + " ;\t" + k.Second.PublicLine() + " ; ";
     },
     true, "signed by key "},
    {"no PackageKey: unsigned taken as before",
     [](UpgradeWorld &, const Keys &) { return std::string(); }, true, "accepted for product"},
};

TEST_F(SignedPackages, EachSignatureCaseThroughAWholeUnattendedRun)
{
    for (size_t i = 0; i < std::size(kRows); ++i) {
        const Row &row = kRows[i];
        const std::string where = "row " + std::to_string(i) + " (" + row.Name + ")";
        UpgradeWorld world("kx_signed_" + std::to_string(i));
        world.MakePackage({});
        world.Register("localhost");
        const std::string value = row.Prepare(world, keys);
        if (!value.empty())
            AddPackageKey(world, value);
        world.PlaceProgram();

        const UpgradeWorld::ProgramRun run = world.RunProgram("--unattended");

        const std::string log = world.Log();
        std::string scanLine;
        {
            std::istringstream in(log);
            for (std::string line; std::getline(in, line);)
                if (line.find("scan: demo_5.2.zip: ") != std::string::npos)
                    scanLine = line;
        }
        EXPECT_NE(scanLine.find(row.Logged), std::string::npos) << where << ": " << scanLine;
        const bool toldUnverified =
            log.find("packages for product \"E2E\" are not verified") != std::string::npos;
        EXPECT_EQ(toldUnverified, value.empty()) << where;
        if (row.Upgrades) {
            EXPECT_EQ(run.ExitCode, 0) << where << "\n" << run.Out << run.Err;
            EXPECT_EQ(LastLineOf(run.Out), "升级成功！") << where;
            EXPECT_EQ(world.Rows(), "升级,5.2") << where;
            EXPECT_EQ(world.Files().AppConf, kNewFiles.AppConf) << where;
            // The verified copy is gone once unpacked.
            EXPECT_FALSE(std::filesystem::exists(world.ProgramFolder() + "TempUpdate/demo_5.2.zip"))
                << where;
        } else {
            EXPECT_EQ(run.ExitCode, 1) << where << "\n" << run.Out << run.Err;
            EXPECT_EQ(LastLineOf(run.Out), "未找到有效的升级包文件！") << where;
            EXPECT_NE(scanLine.find("takes only signed packages"), std::string::npos) << where;
            EXPECT_EQ(world.Rows(), kNoTable) << where;
            EXPECT_EQ(world.Files().AppConf, kOldFiles.AppConf) << where;
        }
    }
}

TEST_F(SignedPackages, APackageSwappedBetweenTheScanAndThePressIsNeverUnpacked)
{
    struct Swap {
        const char *Name;
        std::function<void(UpgradeWorld &, const Keys &)> Do;
    };
    const Swap swaps[] = {
        // Another package that the same key signed: its signature verifies, but these are not
        // the bytes the scan accepted.
        {"another package signed by the same key",
         [](UpgradeWorld &w, const Keys &k) {
             FlipByteInTheMiddle(w.PackageFile());
             SignPackage(w, k.First);
         }},
        {"bytes changed, signature kept",
         [](UpgradeWorld &w, const Keys &) { FlipByteInTheMiddle(w.PackageFile()); }},
        {"signature removed",
         [](UpgradeWorld &w, const Keys &) {
             std::filesystem::remove(w.PackageFile() + ".minisig");
         }},
    };
    for (size_t i = 0; i < std::size(swaps); ++i) {
        const std::string where = "case " + std::to_string(i) + " (" + swaps[i].Name + ")";
        UpgradeWorld world("kx_signed_swap_" + std::to_string(i));
        world.MakePackage({});
        world.Register("localhost");
        SignPackage(world, keys.First);
        AddPackageKey(world, keys.First.PublicLine());
        ASSERT_TRUE(world.Open()) << where << "\n" << world.Log();

        swaps[i].Do(world, keys);
        world.PressUpgrade();

        EXPECT_EQ(world.MessageTexts(),
                  (std::vector<std::string>{"解压缩升级包文件失败！", "升级失败！"}))
            << where;
        EXPECT_EQ(world.Rows(), kNoTable) << where;
        EXPECT_EQ(world.Files().AppConf, kOldFiles.AppConf) << where;
        EXPECT_FALSE(std::filesystem::exists(world.ProgramFolder() + "TempUpdate/demo_5.2"))
            << where << ": nothing was unpacked";
        EXPECT_NE(world.Log().find("is not unpacked"), std::string::npos) << where;
        world.ExpectRestored(where);
    }
}

} // namespace

} // namespace offline_upgrade
