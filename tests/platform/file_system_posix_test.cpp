#include "platform/posix/file_system_posix.h"

#include "platform/error.h"
#include "tests/support/copy_in_place.h"
#include "tests/support/log_recorder.h"
#include "tests/support/temp_folder.h"
#include "tests/support/unprivileged.h"

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
#include <thread>
#include <vector>

extern char **environ;

namespace offline_upgrade {

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
    fs::create_symlink(temp.Path() / "missing", temp.Path() / "dangling");
    ASSERT_EQ(::mkfifo((temp.Path() / "fifo").c_str(), 0644), 0);

    struct Expected {
        const char *name;
        uint32_t attributes;
        uint64_t size;
        bool plain;
    };
    const Expected expected[] = {
        {".hdir", kAttrDirectory | kAttrHidden, 0, false},
        {".hidden", kAttrArchive | kAttrHidden, 2, true},
        {"dangling", kAttrArchive, 0, false},
        {"dir", kAttrDirectory, 0, false},
        {"dirlink", kAttrDirectory, 0, false},
        {"fifo", kAttrArchive, 0, false},
        {"link", kAttrArchive, 5, true},
        {"plain", kAttrArchive, 5, true},
        {"readonly", kAttrArchive | kAttrReadOnly, 1, true},
        {"rodir", kAttrDirectory | kAttrReadOnly, 0, false},
    };
    PosixFileSystem files;
    std::vector<FolderEntry> entries;
    ASSERT_TRUE(files.ListFolder(temp.Path().string(), "*.*", entries));
    ASSERT_EQ(entries.size(), std::size(expected));
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].Name, expected[i].name) << "entry " << i;
        EXPECT_EQ(entries[i].Attributes, expected[i].attributes) << "entry " << i;
        EXPECT_EQ(entries[i].Size, expected[i].size) << "entry " << i;
        EXPECT_EQ(entries[i].Plain, expected[i].plain) << "entry " << i;
    }
}

TEST(PosixFileSystemTest, CopyGivesNewFilesTheSourceBitsAndReplacedFilesTheirOwn)
{
    TempFolder temp;
    const fs::path source = temp.Write("src/tool", std::string(300000, 'a') + "end");
    const struct timespec times[2] = {{1500000000, 0}, {1234567890, 123456789}};
    struct Case {
        mode_t source;   // as the package unpacked it
        mode_t old;      // the product's file before the upgrade
        mode_t fresh;    // a new file
        mode_t replaced; // the product's file after the upgrade
    };
    const Case cases[] = {
        // A package made on Windows unpacks as 0644; the product's program stays runnable.
        {0644, 0755, 0644, 0755},
        {0664, 0750, 0664, 0750},
        {0750, 0644, 0750, 0644},
        // Modes the creation mask would cut, and read-only ones.
        {0666, 0600, 0666, 0600},
        {0400, 0444, 0400, 0444},
        // Special bits never travel with a package; the product's own stay with its file.
        {04755, 0755, 0755, 0755},
        {02755, 04755, 0755, 04755},
        {01777, 0640, 0777, 0640},
    };
    PosixFileSystem files;
    std::vector<std::string> known;
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        SetMode(source, c.source);
        ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
        const fs::path fresh = temp.Path() / ("dst/fresh" + std::to_string(i));
        const fs::path existing = temp.Write("dst/existing" + std::to_string(i), "old content");
        SetMode(existing, c.old);
        known.push_back(fresh.filename().string());
        known.push_back(existing.filename().string());
        for (const fs::path &dest : {fresh, existing}) {
            ASSERT_TRUE(CopyInPlace(files, source.string(), dest.string())) << "case " << i << dest;
            EXPECT_EQ(ReadWholeFile(dest), ReadWholeFile(source)) << "case " << i << dest;
            const struct stat st = StatOf(dest);
            EXPECT_EQ(st.st_mode & 07777, dest == fresh ? c.fresh : c.replaced)
                << "case " << i << dest;
            EXPECT_EQ(st.st_mtim.tv_sec, 1234567890) << "case " << i << dest;
            EXPECT_EQ(st.st_mtim.tv_nsec, 123456789) << "case " << i << dest;
        }
    }
    EXPECT_EQ(Leftovers(temp.Path() / "dst", known), std::vector<std::string>{});
}

TEST(PosixFileSystemTest, ReplacedFileKeepsItsOwner)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving a file to another user needs root";
    TempFolder temp;
    const fs::path source = temp.Write("source", "new");
    const fs::path program = temp.Write("product/prog", "old");
    ASSERT_EQ(::chown(program.c_str(), kUnprivilegedId, kUnprivilegedId), 0);
    SetMode(program, 04750);
    PosixFileSystem files;
    ASSERT_TRUE(CopyInPlace(files, source.string(), program.string()));
    const struct stat st = StatOf(program);
    EXPECT_EQ(st.st_uid, kUnprivilegedId);
    EXPECT_EQ(st.st_gid, kUnprivilegedId);
    EXPECT_EQ(st.st_mode & 07777, 04750u);
    EXPECT_EQ(ReadWholeFile(program), "new");
}

// What an ordinary user may replace is what the system lets it write, as cp decides; root may
// replace a file without write bits.
TEST(PosixFileSystemTest, MayReplaceFileFollowsTheEffectiveUsersRights)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "the cases need files of two users";
    TempFolder temp;
    ASSERT_EQ(::chmod(temp.Path().c_str(), 0777), 0);
    const fs::path source = temp.Write("source", "new");
    SetMode(source, 0644);
    struct Case {
        const char *name;
        bool ownedByUser; // by the unprivileged user, else by root
        mode_t mode;
        bool rootMay;
        bool userMay;
    };
    const Case cases[] = {
        {"own-rw", true, 0644, true, true},
        {"own-r", true, 0444, true, false}, // the user's own read-only file
        {"own-rx", true, 0555, true, false},
        {"root-rw", false, 0644, true, false}, // another's file without write for others
        {"root-r", false, 0444, true, false},  // root-owned installation, read-only to all
        {"root-w-all", false, 0666, true, true},
    };
    std::string expected;
    for (const Case &c : cases) {
        const fs::path path = temp.Write(c.name, "old");
        if (c.ownedByUser) {
            ASSERT_EQ(::chown(path.c_str(), kUnprivilegedId, kUnprivilegedId), 0);
        }
        SetMode(path, c.mode);
        expected += c.userMay ? '1' : '0';
    }
    fs::create_directory(temp.Path() / "folder");

    PosixFileSystem files;
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(files.MayReplaceFile(temp.Slashed() + cases[i].name), cases[i].rootMay)
            << "case " << i;
    EXPECT_FALSE(files.MayReplaceFile(temp.Slashed() + "folder"));
    EXPECT_FALSE(files.MayReplaceFile(temp.Slashed() + "missing"));

    // The user's view, and its copies: refused where it may not replace, done where it may.
    const std::string result = RunUnprivileged([&] {
        PosixFileSystem userFiles;
        std::string may;
        std::string copied;
        for (const Case &c : cases) {
            const std::string path = temp.Slashed() + c.name;
            may += userFiles.MayReplaceFile(path) ? '1' : '0';
            copied += CopyInPlace(userFiles, source.string(), path) ? '1' : '0';
        }
        return may + "/" + copied;
    });
    EXPECT_EQ(result, expected + "/" + expected);
    for (size_t i = 0; i < std::size(cases); ++i) {
        const fs::path path = temp.Path() / cases[i].name;
        EXPECT_EQ(ReadWholeFile(path), cases[i].userMay ? "new" : "old") << "case " << i;
        const struct stat st = StatOf(path);
        // A replaced file of root's could not be given back to root: it is the user's now.
        EXPECT_EQ(st.st_mode & 07777, cases[i].mode) << "case " << i;
        if (cases[i].userMay) {
            EXPECT_EQ(st.st_uid, kUnprivilegedId) << "case " << i;
        }
    }
}

// A file of another user that this user may write: the copy cannot be given to that user, so
// it keeps the bits without set-user-ID and set-group-ID, as a write by the user would.
TEST(PosixFileSystemTest, ReplacedFileOfAnotherUserLosesSetIdBits)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "the case needs files of two users";
    TempFolder temp;
    ASSERT_EQ(::chmod(temp.Path().c_str(), 0777), 0);
    const fs::path source = temp.Write("source", "new");
    SetMode(source, 0644);
    const fs::path target = temp.Write("target", "old");
    SetMode(target, 06777);
    const std::string result = RunUnprivileged([&] {
        PosixFileSystem files;
        return std::string(CopyInPlace(files, source.string(), target.string()) ? "copied" : "not");
    });
    EXPECT_EQ(result, "copied");
    const struct stat st = StatOf(target);
    EXPECT_EQ(st.st_uid, kUnprivilegedId);
    EXPECT_EQ(st.st_mode & 07777, 0777u);
}

TEST(PosixFileSystemTest, FlushFileSystemsFlushesEachOnce)
{
    TempFolder temp;
    const fs::path file = temp.Write("a/file", "x");
    PosixFileSystem files;
    EXPECT_TRUE(files.FlushFileSystems({temp.Slashed() + "a", file.string(), temp.Slashed()}));
    EXPECT_TRUE(files.FlushFileSystems({}));
    // A path that cannot be opened cannot be flushed: what was written there is not known safe.
    EXPECT_FALSE(files.FlushFileSystems({temp.Slashed() + "a", temp.Slashed() + "missing"}));
}

TEST(PosixFileSystemTest, CopyReplacesARunningProgram)
{
    TempFolder temp;
    const fs::path program = temp.Path() / "prog";
    PosixFileSystem files;
    ASSERT_TRUE(CopyInPlace(files, "/bin/sleep", program.string()));

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

    const bool replaced = CopyInPlace(files, "/bin/true", program.string());
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

namespace {

// The operations the file stage is made of, each with the outcome its contract names.
TEST(PosixFileSystemTest, FileStageOperations)
{
    TempFolder temp;
    PosixFileSystem files;
    const fs::path source = temp.Write("source", "new bytes");
    SetMode(source, 0755);
    const fs::path dest = temp.Write("dest", "old");
    SetMode(dest, 0640);
    const fs::path fifo = temp.Path() / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    fs::create_directory(temp.Path() / "folder");
    const std::string base = temp.Slashed();

    // A copy beside its target takes the bits of the file it is to replace, or the source's
    // when there is none; the target is not touched; an existing temp is never overwritten.
    ASSERT_TRUE(files.CopyFileBeside(source, dest, base + "t1"));
    EXPECT_EQ(ReadWholeFile(base + "t1"), "new bytes");
    EXPECT_EQ(StatOf(base + "t1").st_mode & 07777, 0640u);
    EXPECT_EQ(ReadWholeFile(dest), "old");
    ASSERT_TRUE(files.CopyFileBeside(source, base + "new-target", base + "t2"));
    EXPECT_EQ(StatOf(base + "t2").st_mode & 07777, 0755u);
    EXPECT_FALSE(files.CopyFileBeside(source, dest, base + "t1"));
    EXPECT_EQ(ReadWholeFile(base + "t1"), "new bytes");
    EXPECT_FALSE(files.CopyFileBeside(fifo, dest, base + "t3"));
    EXPECT_FALSE(fs::exists(base + "t3"));

    // Renames: without replace nothing at the target is lost.
    EXPECT_FALSE(files.RenameFile(base + "t1", dest, false));
    EXPECT_EQ(ReadWholeFile(dest), "old");
    EXPECT_TRUE(files.RenameFile(dest, base + "kept", false));
    EXPECT_TRUE(files.RenameFile(base + "t1", dest, false));
    EXPECT_TRUE(files.RenameFile(base + "kept", dest, true));
    EXPECT_EQ(ReadWholeFile(dest), "old");
    EXPECT_FALSE(fs::exists(base + "kept"));
    EXPECT_FALSE(files.RenameFile(base + "missing", base + "other", true));

    // Many files at once (more than one thread's share); one missing makes it false, and
    // the others go all the same.
    std::vector<std::string> many;
    for (int i = 0; i < 100; ++i)
        many.push_back(temp.Write("many/f" + std::to_string(i), "x").string());
    EXPECT_TRUE(files.RemoveFiles(many));
    EXPECT_TRUE(fs::is_empty(temp.Path() / "many"));
    for (int i = 0; i < 100; ++i)
        temp.Write("many/f" + std::to_string(i), "x");
    many.insert(many.begin() + 50, base + "many/missing");
    EXPECT_FALSE(files.RemoveFiles(many));
    EXPECT_TRUE(fs::is_empty(temp.Path() / "many"));

    // One folder at a time, and only an empty one goes.
    EXPECT_TRUE(files.CreateFolder(base + "made"));
    EXPECT_FALSE(files.CreateFolder(base + "made"));
    EXPECT_FALSE(files.CreateFolder(base + "no/parent"));
    temp.Write("made/file", "x");
    EXPECT_FALSE(files.RemoveFolder(base + "made"));
    fs::remove(temp.Path() / "made/file");
    EXPECT_TRUE(files.RemoveFolder(base + "made"));

    // Times to the nanosecond, of a folder too.
    int64_t before = 0;
    ASSERT_TRUE(files.ModifiedTime(base + "folder", before));
    EXPECT_TRUE(files.SetModifiedTime(base + "folder", 1234567890123456789));
    int64_t now = 0;
    ASSERT_TRUE(files.ModifiedTime(base + "folder", now));
    EXPECT_EQ(now, 1234567890123456789);
    EXPECT_FALSE(files.ModifiedTime(base + "missing", now));

    // A durable write replaces the whole file and leaves nothing beside it.
    std::string bytes;
    ASSERT_TRUE(files.WriteFileDurably(base + "folder/journal", std::string("a\0b", 3)));
    ASSERT_TRUE(files.WriteFileDurably(base + "folder/journal", "second"));
    ASSERT_TRUE(files.ReadFile(base + "folder/journal", bytes));
    EXPECT_EQ(bytes, "second");
    EXPECT_EQ(Leftovers(temp.Path() / "folder", {"journal"}), std::vector<std::string>{});
    EXPECT_FALSE(files.ReadFile(base + "missing", bytes));
    EXPECT_FALSE(files.WriteFileDurably(base + "no/such/folder/journal", "x"));

    // What may be read and where entries may be made.
    EXPECT_TRUE(files.MayReadFile(source));
    EXPECT_FALSE(files.MayReadFile(fifo));
    EXPECT_FALSE(files.MayReadFile(base + "folder"));
    EXPECT_FALSE(files.MayReadFile(base + "missing"));
    EXPECT_TRUE(files.MayCreateIn(base + "folder"));
    EXPECT_FALSE(files.MayCreateIn(source));
    EXPECT_FALSE(files.MayCreateIn(base + "missing"));

    // Two paths of one file system share its identity; another file system has its own.
    FileSystemSpace here;
    FileSystemSpace there;
    FileSystemSpace proc;
    ASSERT_TRUE(files.SpaceOf(base + "folder", here));
    ASSERT_TRUE(files.SpaceOf(source, there));
    ASSERT_TRUE(files.SpaceOf("/proc", proc));
    EXPECT_EQ(here.Id, there.Id);
    EXPECT_NE(here.Id, proc.Id);
    EXPECT_GT(here.Available, 0u);
    EXPECT_FALSE(files.SpaceOf(base + "missing", here));
}

TEST(PosixFileSystemTest, MayCreateInFollowsTheEffectiveUsersRights)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "the cases need folders of two users";
    TempFolder temp;
    ASSERT_EQ(::chmod(temp.Path().c_str(), 0755), 0);
    fs::create_directory(temp.Path() / "roots");
    fs::create_directory(temp.Path() / "open");
    SetMode(temp.Path() / "open", 0777);
    const fs::path file = temp.Write("roots/file", "x");
    SetMode(file, 0600);
    PosixFileSystem files;
    EXPECT_TRUE(files.MayCreateIn(temp.Slashed() + "roots"));
    const std::string result = RunUnprivileged([&] {
        PosixFileSystem user;
        return std::string(user.MayCreateIn(temp.Slashed() + "roots") ? "1" : "0") +
               (user.MayCreateIn(temp.Slashed() + "open") ? "1" : "0") +
               (user.MayReadFile(file.string()) ? "1" : "0");
    });
    EXPECT_EQ(result, "010");
}

// The batch examination answers what the calls of one path each answer, for every kind of
// entry and path, for root and for a user without rights, also when threads share the work.
TEST(PosixFileSystemTest, ExaminedPlacesAreWhatTheCallsOfOnePathSay)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "the cases need files of two users";
    const TempFolder tmp;
    ASSERT_EQ(::chmod(tmp.Path().c_str(), 0755), 0);
    const fs::path root = tmp.Path();
    SetMode(tmp.Write("src/plain", "p"), 0644);
    SetMode(tmp.Write("src/secret", "s"), 0600); // root's, unreadable to the user
    ASSERT_EQ(::mkfifo((root / "src/fifo").c_str(), 0644), 0);
    fs::create_directory(root / "src/folder");
    fs::create_symlink(root / "src/plain", root / "src/to-plain");
    SetMode(tmp.Write("tgt/roots", "r"), 0644); // the user may not replace it
    SetMode(tmp.Write("tgt/open", "o"), 0666);
    fs::create_directory(root / "tgt/folder");
    fs::create_symlink(root / "tgt/open", root / "tgt/to-open");
    fs::create_symlink(root / "tgt/roots", root / "tgt/to-roots");
    fs::create_directory_symlink(root / "tgt/folder", root / "tgt/to-folder");
    fs::create_symlink(root / "tgt/missing", root / "tgt/dangling");
    ASSERT_EQ(::mkfifo((root / "tgt/fifo").c_str(), 0666), 0);
    SetMode(root / "tgt/fifo", 0666);
    fs::create_directory_symlink(root / "tgt", root / "via");

    struct Case {
        const char *source;
        const char *target;
        bool rootReads, userReads;
        EntryKind kind;
        bool rootReplaces, userReplaces;
    };
    const Case cases[] = {
        {"src/plain", "tgt/roots", true, true, EntryKind::File, true, false},
        {"src/secret", "tgt/open", true, false, EntryKind::File, true, true},
        {"src/fifo", "tgt/missing", false, false, EntryKind::Missing, false, false},
        {"src/folder", "tgt/folder", false, false, EntryKind::Folder, false, false},
        {"src/to-plain", "tgt/to-open", true, true, EntryKind::Link, true, true},
        {"src/missing", "tgt/to-roots", false, false, EntryKind::Link, true, false},
        {"src/plain", "tgt/to-folder", true, true, EntryKind::Link, false, false},
        {"src/plain", "tgt/dangling", true, true, EntryKind::Link, false, false},
        {"src/plain", "tgt/fifo", true, true, EntryKind::Other, true, true},
        {"src/plain", "tgt/none/x", true, true, EntryKind::Missing, false, false},
        {"src/plain", "via/open", true, true, EntryKind::File, true, true}, // a linked folder
        {"src/plain", "tgt/folder/.", true, true, EntryKind::Folder, false, false},
        {"src/folder/..", "tgt/to-folder/..", false, false, EntryKind::Folder, false, false},
    };
    // The table three times over, so that more than one thread takes part where there are cores.
    // The last time over, each source with what its listing says of it.
    std::vector<CopyPlace> places;
    for (int round = 0; round < 3; ++round) {
        for (const Case &c : cases) {
            const fs::path source = root / c.source;
            places.push_back({source.string(), (root / c.target).string(),
                              round == 2 && fs::is_regular_file(source)});
        }
    }
    // "root" or "user" rows, each: readable, kind, replaceable, identity given; for the batch
    // and for the calls of one path each.
    const auto examine = [&places](bool batch) {
        PosixFileSystem files;
        std::vector<CopyPlaceFacts> facts;
        if (batch)
            files.ExamineCopyPlaces(places, facts);
        else
            files.IFileSystem::ExamineCopyPlaces(places, facts);
        std::string text;
        for (size_t i = 0; i < facts.size(); ++i) {
            uint64_t identity = 0;
            const bool identified = files.IdentityOf(places[i].Target, identity) &&
                                    facts[i].TargetKind != EntryKind::Folder;
            text += std::to_string(facts[i].SourceReadable) +
                    std::to_string(static_cast<int>(facts[i].TargetKind)) +
                    std::to_string(facts[i].TargetReplaceable) +
                    std::to_string(identified && facts[i].TargetIdentity == identity) + " ";
        }
        return text;
    };
    std::string rootExpected;
    std::string userExpected;
    for (int round = 0; round < 3; ++round) {
        for (const Case &c : cases) {
            const bool identified = c.kind != EntryKind::Missing && c.kind != EntryKind::Folder;
            const std::string kind = std::to_string(static_cast<int>(c.kind));
            rootExpected += std::to_string(c.rootReads) + kind + std::to_string(c.rootReplaces) +
                            std::to_string(identified) + " ";
            userExpected += std::to_string(c.userReads) + kind + std::to_string(c.userReplaces) +
                            std::to_string(identified) + " ";
        }
    }
    EXPECT_EQ(examine(true), rootExpected);
    EXPECT_EQ(examine(false), rootExpected);
    EXPECT_EQ(RunUnprivileged([&] { return examine(true) + "/" + examine(false); }),
              userExpected + "/" + userExpected);
}

// A batch of copies makes each copy as CopyFileBeside does and reports it once, on the calling
// thread; the first that fails stops it, and is logged with its path.
TEST(PosixFileSystemTest, CopiesOfABatchAreEachMadeAndReportedOnce)
{
    const TempFolder tmp;
    std::vector<FileCopy> copies;
    for (int folder = 0; folder < 5; ++folder) {
        for (int file = 0; file < 30; ++file) {
            const std::string name = "d" + std::to_string(folder) + "/f" + std::to_string(file);
            const fs::path source = tmp.Write("src/" + name, name + std::string(file * 100, 'x'));
            const fs::path dest = tmp.Write("dst/" + name, "old");
            copies.push_back({source.string(), dest.string(), dest.string() + ".new"});
        }
    }
    const std::thread::id caller = std::this_thread::get_id();
    // The row number of the copy whose temporary name is taken already; -1: none.
    for (const int taken : {-1, 0, 77, 149}) {
        SCOPED_TRACE(taken);
        for (const FileCopy &copy : copies)
            fs::remove(copy.Temp);
        if (taken >= 0)
            tmp.Write(fs::relative(copies[taken].Temp, tmp.Path()).string(), "someone's");
        PosixFileSystem files;
        LogRecorder log;
        std::vector<int> reported(copies.size(), 0);
        bool onCaller = true;
        const bool ok = files.CopyFilesBeside(copies, [&](size_t i) {
            ++reported.at(i);
            onCaller = onCaller && std::this_thread::get_id() == caller;
        });
        EXPECT_EQ(ok, taken < 0);
        EXPECT_TRUE(onCaller);
        for (size_t i = 0; i < copies.size(); ++i) {
            const bool made = fs::exists(copies[i].Temp) && static_cast<int>(i) != taken;
            // Reported exactly when made, and made whole.
            EXPECT_EQ(reported[i], made ? 1 : 0) << i;
            if (made) {
                EXPECT_EQ(ReadWholeFile(copies[i].Temp), ReadWholeFile(copies[i].Source)) << i;
            }
            if (taken < 0) {
                EXPECT_TRUE(made) << i;
            }
            EXPECT_EQ(ReadWholeFile(copies[i].Dest), "old") << i;
        }
        if (taken >= 0) {
            EXPECT_EQ(ReadWholeFile(copies[taken].Temp), "someone's");
            ASSERT_EQ(log.Errors.size(), 1u) << log.Text();
            EXPECT_NE(log.Errors[0].find(copies[taken].Temp), std::string::npos) << log.Text();
        }
    }

    // What the report throws leaves the call, after the copies under way are done.
    for (const FileCopy &copy : copies)
        fs::remove(copy.Temp);
    PosixFileSystem files;
    EXPECT_THROW((void)files.CopyFilesBeside(copies, [](size_t) { throw KxError("stop"); }),
                 KxError);
}

// Moves happen in order until one cannot: a rename never replaces, a swap swaps, and a move
// between two folders is one too.
TEST(PosixFileSystemTest, MovesStopAtTheFirstThatCannotHappen)
{
    const TempFolder tmp;
    const std::string base = tmp.Slashed();
    for (const char *name : {"one/a", "one/b", "one/c", "one/d", "one/taken", "two/x"})
        tmp.Write(name, name);
    const std::vector<FileMove> moves = {
        {base + "one/a", base + "one/a2", false},
        {base + "one/b", base + "one/c", true},
        {base + "one/d", base + "two/d", false},
        {base + "two/x", base + "one/taken", false}, // refused: something is there
        {base + "one/c", base + "one/c2", false},    // not reached
    };
    PosixFileSystem files;
    LogRecorder log;
    ExchangeOutcome stoppedBy = ExchangeOutcome::Exchanged;
    EXPECT_EQ(files.MoveFiles(moves, stoppedBy), 3u);
    EXPECT_EQ(stoppedBy, ExchangeOutcome::Failed);
    EXPECT_TRUE(log.Holds(base + "two/x")) << log.Text();
    const std::pair<const char *, const char *> after[] = {
        {"one/a2", "one/a"}, {"one/b", "one/c"}, {"one/c", "one/b"},
        {"two/d", "one/d"},  {"two/x", "two/x"}, {"one/taken", "one/taken"},
    };
    for (const auto &[name, content] : after)
        EXPECT_EQ(ReadWholeFile(base + name), content) << name;
    EXPECT_FALSE(fs::exists(base + "one/a"));
    EXPECT_FALSE(fs::exists(base + "one/c2"));

    EXPECT_EQ(files.MoveFiles({moves[4]}, stoppedBy), 1u);
    EXPECT_EQ(stoppedBy, ExchangeOutcome::Exchanged);
    EXPECT_EQ(ReadWholeFile(base + "one/c2"), "one/b");
}

TEST(PosixFileSystemTest, KindOfLooksAtLinksAndResolvePathFollowsThem)
{
    const TempFolder tmp;
    const fs::path root = tmp.Path();
    tmp.Write("file", "x");
    fs::create_directories(root / "folder/inner");
    fs::create_symlink(root / "file", root / "to-file");
    fs::create_directory_symlink(root / "folder", root / "to-folder");
    fs::create_symlink(root / "missing", root / "dangling");
    ASSERT_EQ(::mkfifo((root / "fifo").c_str(), 0644), 0);
    PosixFileSystem files;
    const std::pair<const char *, EntryKind> kinds[] = {
        {"file", EntryKind::File},       {"folder", EntryKind::Folder},
        {"to-file", EntryKind::Link},    {"to-folder", EntryKind::Link},
        {"dangling", EntryKind::Link},   {"fifo", EntryKind::Other},
        {"missing", EntryKind::Missing}, {"to-folder/inner", EntryKind::Folder},
    };
    for (const auto &[name, kind] : kinds)
        EXPECT_EQ(files.KindOf((root / name).string()), kind) << name;

    std::string resolved;
    const std::string real = fs::canonical(root).string();
    ASSERT_TRUE(files.ResolvePath((root / "to-folder/inner/..").string(), resolved));
    EXPECT_EQ(resolved, real + "/folder");
    ASSERT_TRUE(files.ResolvePath((root / "to-file").string(), resolved));
    EXPECT_EQ(resolved, real + "/file");
    EXPECT_FALSE(files.ResolvePath((root / "dangling").string(), resolved));
    EXPECT_FALSE(files.ResolvePath((root / "missing").string(), resolved));
}

} // namespace

} // namespace offline_upgrade
