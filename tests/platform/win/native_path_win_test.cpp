// The long form of a path on Windows, for the calls outside the file system service (the lock,
// the log, the script reader): a path too long for the plain calls is made whole and prefixed;
// a shorter one stays as it is.
#include "platform/native_path.h"

#include <gtest/gtest.h>

#include <string>

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
        {"long on a share", "\\\\server\\share\\" + deep, L"\\\\?\\UNC\\server\\share\\" + wideDeep},
        {"long and already in the long form", "\\\\?\\C:\\" + deep, L"\\\\?\\C:\\" + wideDeep},
        {"long, a folder with its separator", "C:\\" + deep + "\\", L"\\\\?\\C:\\" + wideDeep + L"\\"},
        {"long and Chinese", "C:\\升级\\" + deep, L"\\\\?\\C:\\\u5347\u7ea7\\" + wideDeep},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(LongNativePath(cases[i].path).native(), cases[i].expected)
            << "case " << i << " " << cases[i].what;
}

} // namespace
