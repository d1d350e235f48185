// Paths past MAX_PATH on Windows. The long form, for the calls outside the file system
// service (the lock, the log, the script reader): a path too long for the plain calls is made
// whole and prefixed; a shorter one stays as it is. The short form of its folders, for the
// calls that take no long form (starting a program, the INI functions).
#include "platform/native_path.h"
#include "platform/win/short_path_win.h"
#include "platform/win/wide.h"
#include "tests/support/temp_folder.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace offline_upgrade {

namespace {

TEST(LongNativePath, PathsPastThePlainCallsLimitTakeTheLongForm)
{
    const std::string deep(260, 'd');
    const std::wstring wideDeep(260, L'd');
    const struct {
        const char *what;
        std::string path;
        std::wstring expected;
    } cases[] = {
        {"short, unchanged", "C:/a/b.txt", L"C:/a/b.txt"},
        {"short with dots, unchanged", "C:\\a\\..\\b", L"C:\\a\\..\\b"},
        {"long", "C:\\p\\" + deep + "\\x.log", L"\\\\?\\C:\\p\\" + wideDeep + L"\\x.log"},
        {"long with slashes", "C:/p/" + deep + "/x.log", L"\\\\?\\C:\\p\\" + wideDeep + L"\\x.log"},
        {"long with . and ..", "C:\\p\\.\\q\\..\\" + deep + "\\x.log",
         L"\\\\?\\C:\\p\\" + wideDeep + L"\\x.log"},
        {"long on a share", "\\\\server\\share\\" + deep,
         L"\\\\?\\UNC\\server\\share\\" + wideDeep},
        {"long and already in the long form", "\\\\?\\C:\\" + deep, L"\\\\?\\C:\\" + wideDeep},
        {"long, a folder with its separator", "C:\\" + deep + "\\",
         L"\\\\?\\C:\\" + wideDeep + L"\\"},
        {"long and Chinese", "C:\\升级\\" + deep, L"\\\\?\\C:\\\u5347\u7ea7\\" + wideDeep},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(LongNativePath(cases[i].path).native(), cases[i].expected)
            << "case " << i << " " << cases[i].what;
}

TEST(WithinMaxPath, ADeepFileIsReachedThroughItsFoldersShortNames)
{
    TempFolder temp;
    std::string folder = temp.Path().string();
    while (folder.size() < MAX_PATH + 40)
        folder += "\\folder-of-a-deep-program-" + std::to_string(folder.size());
    std::filesystem::create_directories(LongNativePath(folder));
    const std::string file = folder + "\\KX_Rar.exe";
    std::ofstream(LongNativePath(file)) << "bytes";

    const struct {
        const char *what;
        std::string path;
        bool shortened;
    } cases[] = {
        {"a short path stays", temp.Path().string() + "\\x.ini", false},
        {"a deep file", file, true},
        {"a deep file named with slashes", folder + "/KX_Rar.exe", true},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(std::string("case ") + std::to_string(i) + " " + cases[i].what);
        const std::wstring given = Widen(cases[i].path);
        const std::wstring within = WithinMaxPath(given);
        if (!cases[i].shortened) {
            EXPECT_EQ(within, given);
            continue;
        }
        EXPECT_LT(within.size(), static_cast<size_t>(MAX_PATH));
        // The name itself is kept: a program started by it keeps its image name.
        EXPECT_TRUE(within.ends_with(L"\\KX_Rar.exe")) << Narrow(within);
        const HANDLE opened = CreateFileW(within.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(opened, INVALID_HANDLE_VALUE) << Narrow(within);
        if (opened != INVALID_HANDLE_VALUE)
            CloseHandle(opened);
    }
    std::error_code ignored;
    std::filesystem::remove_all(LongNativePath(temp.Path().string() +
                                               "\\folder-of-a-deep-program-" +
                                               std::to_string(temp.Path().string().size())),
                                ignored);
}

} // namespace

} // namespace offline_upgrade
