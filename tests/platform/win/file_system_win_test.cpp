// The file-system service against the system's (Wine's) file calls: names in any script,
// attributes, the copy over a file and its refusals, folders made and removed.
#include "platform/win/file_system_win.h"

#include "tests/support/copy_in_place.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace offline_upgrade {

namespace {

class WinFileSystemTest : public ::testing::Test {
protected:
    // The folder as UTF-8 with a trailing separator, as the tool writes folder paths.
    std::string Folder() const { return Narrow(folder_.Path().wstring()) + "\\"; }
    static std::string Narrow(const std::wstring &wide)
    {
        const int length =
            WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
        std::string text(static_cast<size_t>(length), '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, text.data(), length, nullptr, nullptr);
        text.pop_back();
        return text;
    }
    static std::wstring Widen(const std::string &text)
    {
        const int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
        std::wstring wide(static_cast<size_t>(length), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), length);
        wide.pop_back();
        return wide;
    }
    // Writes a file by its UTF-8 path through the wide call.
    static void Write(const std::string &path, const std::string &bytes)
    {
        HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
    }
    static std::string Read(const std::string &path)
    {
        HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return "<missing>";
        std::string bytes(1 << 16, '\0');
        DWORD got = 0;
        ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
        CloseHandle(file);
        bytes.resize(got);
        return bytes;
    }
    static FILETIME WriteTime(const std::string &path)
    {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        GetFileAttributesExW(Widen(path).c_str(), GetFileExInfoStandard, &data);
        return data.ftLastWriteTime;
    }
    static void SetAttributes(const std::string &path, DWORD attributes)
    {
        ASSERT_TRUE(SetFileAttributesW(Widen(path).c_str(), attributes)) << path;
    }

    TempFolder folder_;
    WinFileSystem files;
};

TEST_F(WinFileSystemTest, NamesInAnyScriptAndTheirAttributes)
{
    const std::string chinese = Folder() + "升级 包.zip";
    Write(chinese, "12345");
    Write(Folder() + "b.TXT", "");
    Write(Folder() + "hidden.txt", "x");
    SetAttributes(Folder() + "hidden.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(files.ForceDirectories(Folder() + "子目录\\深\\更深"));

    EXPECT_TRUE(files.FileExists(chinese));
    EXPECT_FALSE(files.DirectoryExists(chinese));
    EXPECT_TRUE(files.DirectoryExists(Folder() + "子目录\\深\\更深"));
    EXPECT_FALSE(files.FileExists(Folder() + "子目录"));

    std::vector<FolderEntry> entries;
    ASSERT_TRUE(files.ListFolder(Folder(), "*.*", entries));
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].Name, "b.TXT");
    EXPECT_EQ(entries[1].Name, "hidden.txt");
    EXPECT_EQ(entries[1].Attributes & (kAttrHidden | kAttrReadOnly), kAttrHidden | kAttrReadOnly);
    EXPECT_EQ(entries[2].Name, "升级 包.zip");
    EXPECT_EQ(entries[2].Size, 5u);
    EXPECT_EQ(entries[2].Attributes & kAttrDirectory, 0u);
    EXPECT_EQ(entries[3].Name, "子目录");
    EXPECT_NE(entries[3].Attributes & kAttrDirectory, 0u);
    EXPECT_EQ(entries[3].Size, 0u);

    ASSERT_TRUE(files.ListFolder(Folder(), "*.zip", entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Name, "升级 包.zip");
    EXPECT_FALSE(files.ListFolder(Folder() + "missing", "*.*", entries));
    EXPECT_TRUE(entries.empty());
}

TEST_F(WinFileSystemTest, CopyReplacesAFileAndKeepsTheModificationTime)
{
    const std::string source = Folder() + "新.dll";
    const std::string dest = Folder() + "旧.dll";
    Write(source, "new content");
    Write(dest, "old");
    FILETIME past{};
    SYSTEMTIME when{2001, 2, 0, 3, 4, 5, 6, 0};
    SystemTimeToFileTime(&when, &past);
    HANDLE file = CreateFileW(Widen(source).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    SetFileTime(file, nullptr, nullptr, &past);
    CloseHandle(file);

    EXPECT_TRUE(files.MayReplaceFile(dest));
    ASSERT_TRUE(CopyInPlace(files, source, dest));
    EXPECT_EQ(Read(dest), "new content");
    const FILETIME written = WriteTime(dest);
    EXPECT_EQ(CompareFileTime(&past, &written), 0);
    // A new file, and nothing left beside them.
    ASSERT_TRUE(CopyInPlace(files, source, Folder() + "copy.dll"));
    std::vector<FolderEntry> entries;
    ASSERT_TRUE(files.ListFolder(Folder(), "*", entries));
    EXPECT_EQ(entries.size(), 3u);
    EXPECT_TRUE(files.FlushFileSystems({dest, Folder()}));
    EXPECT_FALSE(files.FlushFileSystems({Folder() + "missing"}));
}

TEST_F(WinFileSystemTest, CopyRefusalsLeaveTheTargetAsItWas)
{
    const std::string source = Folder() + "source.exe";
    Write(source, "new");
    // The read-only attribute.
    const std::string readOnly = Folder() + "readonly.exe";
    Write(readOnly, "old");
    SetAttributes(readOnly, FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(files.MayReplaceFile(readOnly));
    EXPECT_FALSE(CopyInPlace(files, source, readOnly));
    EXPECT_EQ(Read(readOnly), "old");
    // A folder, and a source that is no file.
    ASSERT_TRUE(files.ForceDirectories(Folder() + "folder.exe"));
    EXPECT_FALSE(files.MayReplaceFile(Folder() + "folder.exe"));
    EXPECT_FALSE(CopyInPlace(files, source, Folder() + "folder.exe"));
    EXPECT_FALSE(CopyInPlace(files, Folder() + "folder.exe", Folder() + "x.exe"));
    EXPECT_FALSE(CopyInPlace(files, Folder() + "missing.exe", Folder() + "x.exe"));
    EXPECT_FALSE(files.FileExists(Folder() + "x.exe"));
    EXPECT_FALSE(files.MayReplaceFile(Folder() + "missing.exe"));
    // A file another program holds open without letting it be deleted or renamed over.
    const std::string inUse = Folder() + "running.exe";
    Write(inUse, "running");
    HANDLE held = CreateFileW(Widen(inUse).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(files.MayReplaceFile(inUse));
    EXPECT_FALSE(CopyInPlace(files, source, inUse));
    CloseHandle(held);
    // Held with delete sharing, as a running program's image: it may be set aside.
    held = CreateFileW(Widen(inUse).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(files.MayReplaceFile(inUse));
    CloseHandle(held);
    EXPECT_EQ(Read(inUse), "running");
    std::vector<FolderEntry> entries;
    ASSERT_TRUE(files.ListFolder(Folder(), "*", entries));
    EXPECT_EQ(entries.size(), 4u); // no temporary file left behind
}

TEST_F(WinFileSystemTest, TreesGoWithReadOnlyFilesAndTheWorkingFolderFollows)
{
    ASSERT_TRUE(files.ForceDirectories(Folder() + "TempUpdate\\a\\b"));
    Write(Folder() + "TempUpdate\\a\\b\\locked.txt", "x");
    SetAttributes(Folder() + "TempUpdate\\a\\b\\locked.txt", FILE_ATTRIBUTE_READONLY);
    Write(Folder() + "TempUpdate\\top.txt", "y");

    const std::string before = files.GetCurrentDir();
    files.SetCurrentDir(Folder() + "TempUpdate");
    EXPECT_TRUE(files.FileExists("top.txt"));
    files.SetCurrentDir(before);
    EXPECT_THROW(files.SetCurrentDir(Folder() + "missing"), std::exception);

    EXPECT_TRUE(files.RemoveTree(Folder() + "TempUpdate"));
    EXPECT_FALSE(files.DirectoryExists(Folder() + "TempUpdate"));
    EXPECT_TRUE(files.RemoveTree(Folder() + "TempUpdate")); // nothing there
    Write(Folder() + "single.txt", "z");
    EXPECT_TRUE(files.RemoveFile(Folder() + "single.txt"));
    EXPECT_FALSE(files.RemoveFile(Folder() + "single.txt"));
}

TEST_F(WinFileSystemTest, KindOfAndResolvedPaths)
{
    Write(Folder() + "file.txt", "x");
    ASSERT_TRUE(files.ForceDirectories(Folder() + "folder\\inner"));
    EXPECT_EQ(files.KindOf(Folder() + "file.txt"), EntryKind::File);
    EXPECT_EQ(files.KindOf(Folder() + "folder"), EntryKind::Folder);
    EXPECT_EQ(files.KindOf(Folder() + "missing"), EntryKind::Missing);
    std::string resolved;
    ASSERT_TRUE(files.ResolvePath(Folder() + "folder/inner\\..", resolved));
    std::string expected;
    ASSERT_TRUE(files.ResolvePath(Folder() + "folder", expected));
    EXPECT_EQ(resolved, expected);
    EXPECT_EQ(resolved.substr(resolved.size() - 7), "\\folder");
    EXPECT_NE(resolved.substr(0, 4), "\\\\?\\");
    EXPECT_FALSE(files.ResolvePath(Folder() + "missing\\x", resolved));
}

} // namespace

} // namespace offline_upgrade
