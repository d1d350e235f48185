// kxpack.exe with the Windows KX_Rar.exe beside it, under Wine: a package that "make" builds
// from a folder with Chinese names passes "check", lists its blocks and files, and is judged
// against a store file and against Wine's registry as the scan judges it.
#include "platform/native_path.h"
#include "platform/program_folder.h"
#include "platform/program_run.h"
#include "tests/support/package_signer.h"
#include "tests/support/registered_product_win.h"
#include "tests/support/temp_folder.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace kxpack {

using offline_upgrade::GetProgramFolder;
using offline_upgrade::MakeTestSigningKey;
using offline_upgrade::NativePath;
using offline_upgrade::PathText;
using offline_upgrade::ProgramOutcome;
using offline_upgrade::ReadWholeFile;
using offline_upgrade::RegisteredProduct;
using offline_upgrade::RunProgramToEnd;
using offline_upgrade::TempFolder;
using offline_upgrade::TestSigningKey;

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr int kClean = 0, kErrors = 1;

const char kScript[] = "-- sql begin create\r\n"
                       "CREATE TABLE t (a INT)\r\n"
                       "-- end sql\r\n"
                       "-- sql begin fill\r\n"
                       "INSERT INTO t VALUES (1);\r\n"
                       "-- end sql\r\n";

// A program folder of the test's own holding kxpack.exe and KX_Rar.exe as built, and a
// folder of sources for packages, all below a folder with a Chinese name.
class Workshop {
public:
    Workshop() : root_(PathText(temp_.Path()) + "\\打包 工具\\")
    {
        const std::string built = GetProgramFolder() + "..\\bin\\";
        fs::create_directories(NativePath(root_ + "sources"));
        for (const char *program : {"kxpack.exe", "KX_Rar.exe"})
            fs::copy_file(NativePath(built + program), NativePath(root_ + program));
    }
    const std::string &Root() const { return root_; }

    void Write(const std::string &relative, const std::string &bytes) const
    {
        const fs::path path = NativePath(root_ + relative);
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }

    ProgramOutcome Run(const std::vector<std::string> &args) const
    {
        std::vector<std::string> line{root_ + "kxpack.exe"};
        line.insert(line.end(), args.begin(), args.end());
        return RunProgramToEnd(line);
    }

    // Makes OUT (below the root) from a descriptor for product code, with the script and two
    // files, one of them named in Chinese.
    ProgramOutcome Make(const std::string &out, const std::string &productCode,
                        const std::string &maker = "glenmarsh") const
    {
        Write("sources\\Update.ini", "[CONFIG]\r\ncorp=" + maker +
                                         "\r\nSoft=演示系统\r\nVersion=5\r\nBuild=5.2\r\n"
                                         "DbType=1\r\nRegValue=" +
                                         productCode + "\r\n");
        Write("sources\\UpdateSQL.sql", kScript);
        Write("sources\\文件\\bin\\app.conf", "version=5.2\r\n");
        Write("sources\\文件\\说明.txt", "5.2\r\n");
        return Run({"make", "--descriptor", root_ + "sources\\Update.ini", "--sql",
                    root_ + "sources\\UpdateSQL.sql", "--files", root_ + "sources\\文件",
                    root_ + out});
    }

private:
    TempFolder temp_;
    std::string root_;
};

json Json(const ProgramOutcome &run)
{
    return json::parse(run.Messages, nullptr, false);
}

TEST(KxpackArchiverWin, MadePackagePassesCheckAndListsItsBlocksAndFiles)
{
    const Workshop shop;
    const std::string package = shop.Root() + "发布\\ABC_5.2.zip";
    fs::create_directories(NativePath(shop.Root() + "发布"));
    const ProgramOutcome made = shop.Make("发布\\ABC_5.2.zip", "ABC");
    ASSERT_EQ(made.ExitCode, kClean) << made.Messages;
    EXPECT_NE(made.Messages.find("SQLCount=2 added"), std::string::npos) << made.Messages;
    EXPECT_NE(made.Messages.find("made " + package), std::string::npos) << made.Messages;

    const ProgramOutcome checked = shop.Run({"check", package, "--json"});
    EXPECT_EQ(checked.ExitCode, kClean) << checked.Messages;
    const json report = Json(checked);
    ASSERT_FALSE(report.is_discarded()) << checked.Messages;
    EXPECT_EQ(report["errors"], 0) << checked.Messages;
    EXPECT_EQ(report["package"], package);
    EXPECT_EQ(report["files"]["files"], 2) << checked.Messages;

    const ProgramOutcome blocks = shop.Run({"blocks", package});
    EXPECT_EQ(blocks.ExitCode, kClean) << blocks.Messages;
    EXPECT_NE(blocks.Messages.find("block 2 \"fill\", lines 4-6:"), std::string::npos)
        << blocks.Messages;
    EXPECT_NE(blocks.Messages.find("INSERT INTO t VALUES (1);"), std::string::npos)
        << blocks.Messages;

    // Against a product folder that has one of the two files already.
    shop.Write("产品\\bin\\app.conf", "version=5.1\r\n");
    const ProgramOutcome files =
        shop.Run({"files", package, "--product", shop.Root() + "产品\\", "--json"});
    EXPECT_EQ(files.ExitCode, kClean) << files.Messages;
    const json listed = Json(files);
    ASSERT_FALSE(listed.is_discarded()) << files.Messages;
    std::map<std::string, std::string> status;
    for (const json &row : listed["files"])
        status[row["path"]] = row["status"];
    const std::map<std::string, std::string> expected{{"bin/app.conf", "replaced"},
                                                      {"说明.txt", "new"}};
    EXPECT_EQ(status, expected) << files.Messages;
}

// kxpack.exe sign with minisign secret key files made at test time, with and without a
// password; check --key finds the signature good, and bad once a byte changed.
TEST(KxpackArchiverWin, SignsWhatCheckThenVerifies)
{
    const Workshop shop;
    const TestSigningKey key = MakeTestSigningKey();
    shop.Write("keys\\plain.key", key.SecretKeyFile());
    shop.Write("keys\\locked.key", key.SecretKeyFile("口令 word"));
    shop.Write("keys\\kx.pub", key.PublicKeyFile());
    const std::string package = shop.Root() + "ABC_5.2.zip";
    const std::string pub = shop.Root() + "keys\\kx.pub";
    struct Case {
        const char *what;
        const char *keyFile;
        const char *password; // nullptr: none set
        int code;
    };
    const Case cases[] = {
        {"key without a password", "plain.key", nullptr, kClean},
        {"key with its password", "locked.key", "口令 word", kClean},
        {"wrong password", "locked.key", "guess", kErrors},
    };
    for (const Case &c : cases) {
        fs::remove(NativePath(package));
        fs::remove(NativePath(package + ".minisig"));
        ASSERT_EQ(shop.Make("ABC_5.2.zip", "ABC").ExitCode, kClean) << c.what;
        SetEnvironmentVariableW(L"KXPACK_KEY_PASSWORD",
                                c.password ? NativePath(c.password).c_str() : nullptr);
        const ProgramOutcome signedRun =
            shop.Run({"sign", "--key", shop.Root() + "keys\\" + c.keyFile, package});
        SetEnvironmentVariableW(L"KXPACK_KEY_PASSWORD", nullptr);
        EXPECT_EQ(signedRun.ExitCode, c.code) << c.what << "\n" << signedRun.Messages;
        if (c.code != kClean)
            continue;
        const std::string signature = ReadWholeFile(NativePath(package + ".minisig"));
        EXPECT_NE(signature.find("trusted comment: timestamp:"), std::string::npos) << signature;
        EXPECT_NE(signature.find("\tfile:ABC_5.2.zip\tproduct:ABC\tbuild:5.2\thashed"),
                  std::string::npos)
            << signature;
        const ProgramOutcome good = shop.Run({"check", package, "--key", pub});
        EXPECT_EQ(good.ExitCode, kClean) << c.what << "\n" << good.Messages;
        {
            std::fstream file(NativePath(package), std::ios::in | std::ios::out | std::ios::binary);
            file.seekp(40);
            file.put('#');
        }
        const ProgramOutcome bad = shop.Run({"check", package, "--key", pub});
        EXPECT_EQ(bad.ExitCode, kErrors) << c.what << "\n" << bad.Messages;
        EXPECT_NE(bad.Messages.find("does not match the package"), std::string::npos)
            << bad.Messages;
    }
}

TEST(KxpackArchiverWin, MakeLeavesNoPackageWithErrors)
{
    const Workshop shop;
    const ProgramOutcome made = shop.Make("ABC_5.2.zip", "ABC", "Glenmarsh");
    EXPECT_EQ(made.ExitCode, kErrors) << made.Messages;
    EXPECT_NE(made.Messages.find("none made"), std::string::npos) << made.Messages;
    EXPECT_FALSE(fs::exists(NativePath(shop.Root() + "ABC_5.2.zip")));
}

TEST(KxpackArchiverWin, CheckJudgesAgainstAStoreAndThisMachinesRegistry)
{
    const Workshop shop;
    RegisteredProduct product(L"KXPACK");
    const std::string package = shop.Root() + "ABC_5.2.zip";
    ASSERT_EQ(shop.Make("ABC_5.2.zip", product.Code()).ExitCode, kClean);
    const struct {
        const char *what;
        std::wstring version; // registered in Wine's registry; empty: not registered
        std::string store;    // a store file's text; empty: --registry alone
        const char *verdict;
        int code;
    } cases[] = {
        {"store, registered", L"",
         "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\vazerodu\\" + product.Code() +
             "\\ClientConfigure]\r\n\"Version\"=\"5\"\r\n"
             "\"Build\"=\"5.1\"\r\n",
         "accepted", kClean},
        {"store, other product", L"",
         "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\vazerodu\\"
         "XYZ\\ClientConfigure]\r\n\"Version\"=\"5\"\r\n",
         "passed over", kErrors},
        {"this machine, not registered", L"", "", "passed over", kErrors},
        {"this machine, registered", L"5", "", "accepted", kClean},
        {"this machine, other version", L"6", "", "passed over", kErrors},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args{"check", package, "--json", "--registry"};
        if (!c.store.empty()) {
            shop.Write("注册表.reg", c.store);
            args.push_back(shop.Root() + "注册表.reg");
        }
        if (!c.version.empty()) {
            product.SetString(L"\\ClientConfigure", L"Version", c.version);
            product.SetString(L"\\ClientConfigure", L"Build", L"5.1");
        }
        const ProgramOutcome run = shop.Run(args);
        const json report = Json(run);
        ASSERT_FALSE(report.is_discarded()) << c.what << "\n" << run.Messages;
        EXPECT_EQ(run.ExitCode, c.code) << c.what << "\n" << run.Messages;
        EXPECT_EQ(report["scan"]["verdict"], c.verdict) << c.what << "\n" << run.Messages;
        EXPECT_EQ(report["scan"]["store"],
                  c.store.empty() ? "HKEY_LOCAL_MACHINE (32-bit view)" : shop.Root() + "注册表.reg")
            << c.what;
        // The scan would have added the key; kxpack leaves the registry as it is.
        EXPECT_FALSE(product.Exists(L"\\ApplicationPath")) << c.what;
    }
}

} // namespace

} // namespace kxpack
