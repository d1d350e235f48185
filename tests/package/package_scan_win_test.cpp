// The scan's rows that only Windows has: program folders written with backslashes, packages
// that another program holds open, and file attributes.

#include "tests/support/held_file_win.h"
#include "tests/support/package_scan_fixture.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace offline_upgrade {

namespace {

TEST_F(PackageScan, AProgramFolderWrittenWithBackslashesFindsItsPackage)
{
    program = folder.Path().string();
    for (char &c : program)
        if (c == '/')
            c = '\\';
    program += "\\";
    MakePackage("p.zip", Descriptor{});
    Scan();
    EXPECT_EQ(Package.PackageName, "p.zip");
    EXPECT_EQ(Package.PackagePath, program);
    EXPECT_EQ(view.Calls.back(), "package:Demo|20|20|" + program + "p.zip");
    ASSERT_EQ(processes.Started.size(), 1u);
    EXPECT_EQ(processes.Started[0], "\"" + program + "KX_Rar.exe\" cw -y \"" + program +
                                        "p.zip\" \"" + program + "TempUpdate/Update.ini\"");
}

TEST_F(PackageScan, APackageInUseIsReadWhenItsHolderSharesIt)
{
    struct Case {
        const char *what;
        DWORD sharing;
        bool read;
    };
    const Case cases[] = {
        {"held, reading shared", FILE_SHARE_READ, true},
        {"held, reading and writing shared", FILE_SHARE_READ | FILE_SHARE_WRITE, true},
        {"held, nothing shared", 0, false},
    };
    MakePackage("a.zip", With([](Descriptor &d) { d.Soft = "Held"; }));
    MakePackage("b.zip", Descriptor{});
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        HeldFile held(folder.Path() / "a.zip", c.sharing);
        ASSERT_TRUE(held.Held());
        LogRecorder log;
        Package = {};
        Scan();
        // The next package is still examined when the held one cannot be read.
        EXPECT_EQ(Package.PackageName, c.read ? "a.zip" : "b.zip");
        EXPECT_EQ(Package.Soft, c.read ? "Held" : "Demo");
        const std::string verdict = VerdictOf(log, "a.zip");
        EXPECT_NE(verdict.find(c.read ? "accepted" : "passed over: no descriptor"),
                  std::string::npos)
            << verdict;
    }
}

TEST_F(PackageScan, AttributesOfAPackageDoNotKeepItFromTheScan)
{
    const DWORD attributes[] = {FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN,
                                FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN,
                                FILE_ATTRIBUTE_ARCHIVE};
    MakePackage("p.zip", Descriptor{});
    const std::wstring file = (folder.Path() / "p.zip").wstring();
    for (DWORD attribute : attributes) {
        SCOPED_TRACE(attribute);
        ASSERT_TRUE(SetFileAttributesW(file.c_str(), attribute));
        // As the system shows them (Wine adds the archive bit to every file).
        const DWORD before = GetFileAttributesW(file.c_str());
        ASSERT_EQ(before & attribute, attribute);
        Package = {};
        Scan();
        EXPECT_EQ(Package.PackageName, "p.zip");
        // The scan leaves the package as it found it.
        EXPECT_EQ(GetFileAttributesW(file.c_str()), before);
    }
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
}

} // namespace

} // namespace offline_upgrade
