// The scan's rows that need POSIX: the real minisign program (a Linux tool here) makes the keys
// and signatures that the scan checks.

#include "tests/support/package_scan_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace offline_upgrade {

namespace fs = std::filesystem;

// The real minisign makes the keys and the signatures.
TEST_F(SignedScan, SignaturesOfTheRealMinisignVerify)
{
    const std::string dir = program;
    ASSERT_EQ(
        std::system(
            ("minisign -G -W -p '" + dir + "k.pub' -s '" + dir + "k.key' >/dev/null").c_str()),
        0);
    const std::string pub = ReadWholeFile(folder.Path() / "k.pub");
    const std::string line =
        pub.substr(pub.find('\n') + 1, pub.find('\n', pub.find('\n') + 1) - pub.find('\n') - 1);
    ASSERT_TRUE(line.starts_with("RW")) << pub;
    registrations.Clear();
    RegisterProduct("ABC", "5", "20", "c2VjcmV0", line);
    struct Case {
        const char *what;
        const char *options;
        bool alter;
        bool accepted;
    };
    const Case cases[] = {
        {"prehashed (the default)", "", false, true},
        {"legacy", "-l", false, true},
        {"trusted comment altered", "", true, false},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(std::string("case ") + std::to_string(i) + ": " + cases[i].what);
        fs::remove(folder.Path() / "p.zip");
        fs::remove(folder.Path() / "p.zip.minisig");
        Descriptor d;
        d.Build = "21";
        MakePackage("p.zip", d);
        ASSERT_EQ(std::system(("minisign -S " + std::string(cases[i].options) + " -s '" + dir +
                               "k.key' -m '" + dir +
                               "p.zip' -t 'product ABC build 21' </dev/null >/dev/null")
                                  .c_str()),
                  0);
        if (cases[i].alter) {
            std::string text = ReadWholeFile(folder.Path() / "p.zip.minisig");
            text.replace(text.find("build 21"), 8, "build 99");
            folder.Write("p.zip.minisig", text);
        }
        Package = {};
        LogRecorder log;
        Scan();
        EXPECT_EQ(Package.PackageName, cases[i].accepted ? "p.zip" : "") << VerdictOf(log, "p.zip");
        if (cases[i].accepted) {
            EXPECT_NE(VerdictOf(log, "p.zip").find("trusted comment: product ABC build 21"),
                      std::string::npos)
                << VerdictOf(log, "p.zip");
        }
    }
}

} // namespace offline_upgrade
