#include "platform/posix/file_system_posix.h"

#include "platform/error.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

extern char **environ;

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Names(const std::vector<FolderEntry> &entries)
{
    std::vector<std::string> names;
    for (const FolderEntry &entry : entries)
        names.push_back(entry.Name);
    return names;
}

void SetMode(const fs::path &path, mode_t mode)
{
    ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
}

struct stat StatOf(const fs::path &path)
{
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st;
}

// Names in the folder other than the expected ones: leftovers of a copy.
std::vector<std::string> Leftovers(const fs::path &folder, const std::vector<std::string> &known)
{
    std::vector<std::string> extra;
    for (const auto &entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (std::find(known.begin(), known.end(), name) == known.end())
            extra.push_back(name);
    }
    return extra;
}

TEST(PosixFileSystemTest, ListFolderOrderAndPattern)
{
    TempFolder temp;
    for (const char *name :
         {"b.ZIP", "a.zip", "A.zip", "_x", "Z", "c.zipx", "noext", ".hidden", "two.dots.zip"})
        temp.Write(name, "x");
    fs::create_directory(temp.Path() / "dir.zip");

    struct Case {
        const char *pattern;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        // Letters sort as capitals, so "_" comes after them; equal names by byte order.
        {"*.*",
         {".hidden", "A.zip", "a.zip", "b.ZIP", "c.zipx", "dir.zip", "noext", "two.dots.zip", "Z",
          "_x"}},
        {"*",
         {".hidden", "A.zip", "a.zip", "b.ZIP", "c.zipx", "dir.zip", "noext", "two.dots.zip", "Z",
          "_x"}},
        {"*.zip", {"A.zip", "a.zip", "b.ZIP", "dir.zip", "two.dots.zip"}},
        {"*.ZIP", {"A.zip", "a.zip", "b.ZIP", "dir.zip", "two.dots.zip"}},
        {"?.zip", {"A.zip", "a.zip", "b.ZIP"}},
        {"c.zip?", {"c.zipx"}},
        {"noext.*", {"noext"}},
        {"*o*s*.zip", {"two.dots.zip"}},
        {"nothing*", {}},
    };
    PosixFileSystem files;
    for (size_t i = 0; i < std::size(cases); ++i) {
        std::vector<FolderEntry> entries{{"stale", 0, 0}};
        ASSERT_TRUE(files.ListFolder(temp.Slashed(), cases[i].pattern, entries)) << "case " << i;
        EXPECT_EQ(Names(entries), cases[i].names) << "case " << i << " " << cases[i].pattern;
    }

    std::vector<FolderEntry> entries{{"stale", 0, 0}};
    EXPECT_FALSE(files.ListFolder((temp.Path() / "missing").string(), "*.*", entries));
    EXPECT_TRUE(entries.empty());
    EXPECT_FALSE(files.ListFolder((temp.Path() / "a.zip").string(), "*.*", entries));
}

TEST(PosixFileSystemTest, WildcardBacktracking)
{
    struct Case {
        const char *name;
        const char *pattern;
        bool matches;
    };
    const Case cases[] = {
        {"aXbXc", "*X*c", true},  {"aXbXd", "*X*c", false}, {"abc", "a?c", true},
        {"ac", "a?c", false},     {"", "*", true},          {"a", "", false},
        {"x.y.z", "*.z", true},   {"x.yz", "*.y", false},   {"xz", "*z.*", true},
        {"x.baz", "*z.*", false}, {"ÄB", "äb", false},      {"ÄB", "Äb", true},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(MatchesWildcard(cases[i].name, cases[i].pattern), cases[i].matches)
            << "case " << i << " " << cases[i].name << " ~ " << cases[i].pattern;
}

TEST(PosixFileSystemTest, ListFolderAttributesAndSizes)
{
    TempFolder temp;
    temp.Write("plain", "12345");
    SetMode(temp.Write("readonly", "1"), 0444);
    temp.Write(".hidden", "12");
    fs::create_directory(temp.Path() / "dir");
    fs::create_directory(temp.Path() / "rodir");
    SetMode(temp.Path() / "rodir", 0555);
    fs::create_directory(temp.Path() / ".hdir");
    fs::create_symlink(temp.Path() / "plain", temp.Path() / "link");
    fs::create_symlink(temp.Path() / "dir", temp.Path() / "dirlink");

    struct Expected {
        const char *name;
        uint32_t attributes;
        uint64_t size;
    };
    const Expected expected[] = {
        {".hdir", kAttrDirectory | kAttrHidden, 0},
        {".hidden", kAttrArchive | kAttrHidden, 2},
        {"dir", kAttrDirectory, 0},
        {"dirlink", kAttrDirectory, 0},
        {"link", kAttrArchive, 5},
        {"plain", kAttrArchive, 5},
        {"readonly", kAttrArchive | kAttrReadOnly, 1},
        {"rodir", kAttrDirectory | kAttrReadOnly, 0},
    };
    PosixFileSystem files;
    std::vector<FolderEntry> entries;
    ASSERT_TRUE(files.ListFolder(temp.Path().string(), "*.*", entries));
    ASSERT_EQ(entries.size(), std::size(expected));
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].Name, expected[i].name) << "entry " << i;
        EXPECT_EQ(entries[i].Attributes, expected[i].attributes) << "entry " << i;
        EXPECT_EQ(entries[i].Size, expected[i].size) << "entry " << i;
    }
}

TEST(PosixFileSystemTest, CopyKeepsContentTimeAndMode)
{
    TempFolder temp;
    const fs::path source = temp.Write("src/tool", std::string(300000, 'a') + "end");
    const struct timespec times[2] = {{1500000000, 0}, {1234567890, 123456789}};
    // Modes the creation mask would cut, read-only and set-user-ID ones included.
    const mode_t modes[] = {0750, 0666, 0400, 04755};
    PosixFileSystem files;
    for (size_t i = 0; i < std::size(modes); ++i) {
        SetMode(source, modes[i]);
        ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
        const fs::path fresh = temp.Path() / ("dst/fresh" + std::to_string(i));
        const fs::path existing = temp.Write("dst/existing" + std::to_string(i), "old content");
        for (const fs::path &dest : {fresh, existing}) {
            ASSERT_TRUE(files.CopyFileOver(source.string(), dest.string())) << "case " << i << dest;
            EXPECT_EQ(ReadWholeFile(dest), ReadWholeFile(source)) << "case " << i << dest;
            const struct stat st = StatOf(dest);
            EXPECT_EQ(st.st_mode & 07777, modes[i]) << "case " << i << dest;
            EXPECT_EQ(st.st_mtim.tv_sec, 1234567890) << "case " << i << dest;
            EXPECT_EQ(st.st_mtim.tv_nsec, 123456789) << "case " << i << dest;
        }
    }
    EXPECT_EQ(Leftovers(temp.Path() / "dst", {"fresh0", "fresh1", "fresh2", "fresh3", "existing0",
                                              "existing1", "existing2", "existing3"}),
              std::vector<std::string>{});
}

TEST(PosixFileSystemTest, CopyRefusals)
{
    TempFolder temp;
    const fs::path source = temp.Write("source", "new");
    const fs::path readOnly = temp.Write("dst/readonly", "old");
    SetMode(readOnly, 0444);
    fs::create_directory(temp.Path() / "dst/folder");
    ::mkfifo((temp.Path() / "fifo").c_str(), 0644);

    struct Case {
        fs::path from;
        fs::path to;
    };
    const Case cases[] = {
        {source, readOnly},                     // read-only target stays
        {source, temp.Path() / "dst/folder"},   // a folder is never replaced
        {source, temp.Path() / "nowhere/file"}, // missing target folder
        {temp.Path() / "missing", temp.Path() / "dst/new"},
        {temp.Path() / "dst/folder", temp.Path() / "dst/new"},
        {temp.Path() / "fifo", temp.Path() / "dst/new"}, // must not block
    };
    PosixFileSystem files;
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_FALSE(files.CopyFileOver(cases[i].from.string(), cases[i].to.string())) << "case " << i;
    EXPECT_EQ(ReadWholeFile(readOnly), "old");
    EXPECT_EQ(StatOf(readOnly).st_mode & 07777, 0444u);
    EXPECT_EQ(Leftovers(temp.Path() / "dst", {"readonly", "folder"}), std::vector<std::string>{});
}

TEST(PosixFileSystemTest, CopyReplacesARunningProgram)
{
    TempFolder temp;
    const fs::path program = temp.Path() / "prog";
    PosixFileSystem files;
    ASSERT_TRUE(files.CopyFileOver("/bin/sleep", program.string()));

    pid_t pid = 0;
    std::string path = program.string();
    char arg[] = "30";
    char *argv[] = {path.data(), arg, nullptr};
    ASSERT_EQ(::posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ), 0);
    // The program is running from the file now: writing into it is refused by the system.
    const int fd = ::open(path.c_str(), O_WRONLY);
    const int openError = errno;
    if (fd >= 0)
        ::close(fd);

    const bool replaced = files.CopyFileOver("/bin/true", program.string());
    const bool stillRunning = ::waitpid(pid, nullptr, WNOHANG) == 0;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);

    EXPECT_EQ(fd, -1);
    EXPECT_EQ(openError, ETXTBSY);
    EXPECT_TRUE(replaced);
    EXPECT_TRUE(stillRunning);
    EXPECT_EQ(ReadWholeFile(program), ReadWholeFile("/bin/true"));
}

TEST(PosixFileSystemTest, RemoveTreeRemovesLinksNotTheirTargets)
{
    TempFolder temp;
    const fs::path outsideFile = temp.Write("outside/keep.txt", "keep");
    const fs::path tree = temp.Path() / "tree";
    temp.Write("tree/a/b/file", "x");
    temp.Write("tree/.hidden", "x");
    fs::create_directory_symlink(temp.Path() / "outside", tree / "a/dirlink");
    fs::create_symlink(outsideFile, tree / "filelink");
    fs::create_symlink(temp.Path() / "gone", tree / "dangling");
    SetMode(tree / "a/b", 0555);
    SetMode(tree / "a", 0);

    PosixFileSystem files;
    EXPECT_TRUE(files.RemoveTree(tree.string()));
    EXPECT_FALSE(fs::exists(fs::symlink_status(tree)));
    EXPECT_EQ(ReadWholeFile(outsideFile), "keep");

    // A link given as the tree goes itself, with or without a trailing separator; its target
    // stays.
    for (const char *name : {"link", "link/"}) {
        fs::create_directory_symlink(temp.Path() / "outside", temp.Path() / "link");
        EXPECT_TRUE(files.RemoveTree((temp.Path() / name).string())) << name;
        EXPECT_FALSE(fs::exists(fs::symlink_status(temp.Path() / "link"))) << name;
        EXPECT_EQ(ReadWholeFile(outsideFile), "keep") << name;
    }

    EXPECT_TRUE(files.RemoveTree((temp.Path() / "never-there").string()));
}

TEST(PosixFileSystemTest, ForceDirectories)
{
    TempFolder temp;
    temp.Write("file", "x");
    fs::create_directory(temp.Path() / "exists");
    const std::string base = temp.Slashed();
    struct Case {
        std::string path;
        bool result;
    };
    const Case cases[] = {
        {base + "a/b/c", true},    {base + "d/e/", true},
        {base + "f//g", true},     {base + "exists", true},
        {base + "file", false},    {base + "file/below", false},
        {base + "h/../i/j", true}, {"", false},
    };
    PosixFileSystem files;
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(files.ForceDirectories(cases[i].path), cases[i].result) << "case " << i;
        EXPECT_EQ(files.DirectoryExists(cases[i].path), cases[i].result) << "case " << i;
    }
}

TEST(PosixFileSystemTest, ExistenceAndDelete)
{
    TempFolder temp;
    const std::string file = temp.Write("file", "x").string();
    const std::string folder = temp.Slashed();
    PosixFileSystem files;
    EXPECT_TRUE(files.FileExists(file));
    EXPECT_FALSE(files.DirectoryExists(file));
    EXPECT_FALSE(files.FileExists(folder));
    EXPECT_TRUE(files.DirectoryExists(folder));
    EXPECT_FALSE(files.RemoveFile(folder));
    EXPECT_TRUE(files.RemoveFile(file));
    EXPECT_FALSE(files.FileExists(file));
    EXPECT_FALSE(files.RemoveFile(file));
}

TEST(PosixFileSystemTest, WorkingDirectory)
{
    TempFolder temp;
    PosixFileSystem files;
    const std::string saved = files.GetCurrentDir();
    files.SetCurrentDir(temp.Path().string());
    const std::string inside = files.GetCurrentDir();
    EXPECT_THROW(files.SetCurrentDir((temp.Path() / "missing").string()), KxError);
    const std::string afterFailure = files.GetCurrentDir();
    files.SetCurrentDir(saved);
    EXPECT_EQ(inside, fs::canonical(temp.Path()).string());
    EXPECT_EQ(afterFailure, inside);
    EXPECT_EQ(files.GetCurrentDir(), saved);
}

} // namespace
