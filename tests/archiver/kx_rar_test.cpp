// KX_Rar.exe, run as a program on archives made during the test by zip, 7z, Python's zipfile
// (for names and comments the tools will not write), its own add command, and crafted bytes
// where no tool writes what a hostile archive holds.
//
// With KX_RAR_WINDOWS naming the Windows KX_Rar.exe, the same table runs that program under
// Wine (scripts/wine-run, in the prefix KX_WINE_PREFIX names), skipping only what Windows does
// not have, and adds the cases of Windows' own name rules.

#include "tests/support/temp_folder.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
// Only to craft AES entries the way other tools would.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

extern char **environ;

namespace kx_rar {

using offline_upgrade::BinDir;
using offline_upgrade::ReadWholeFile;
using offline_upgrade::TempFolder;

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

constexpr int kFatal = 2, kChecksum = 3, kBadCommandLine = 7, kCannotCreate = 9,
              kWrongPassword = 11;

struct RunResult {
    int Code = -1;
    std::string Output; // stdout and stderr
};

// Runs a program and waits for it; stdin from stdinFile (or the null device).
RunResult RunProgram(const std::vector<std::string> &args, const fs::path &cwd = {},
                     const fs::path &stdinFile = "/dev/null")
{
    const TempFolder capture;
    const fs::path out = capture.Path() / "out";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, stdinFile.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (!cwd.empty())
        posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        throw std::runtime_error("cannot start " + args[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    RunResult result;
    result.Code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.Output = ReadWholeFile(out);
    return result;
}

// The Windows program under test, or nullptr for this build's own.
const char *WindowsProgram()
{
    const char *program = std::getenv("KX_RAR_WINDOWS");
    return program && *program ? program : nullptr;
}

#define SKIP_FOR_WINDOWS(why)                                                                      \
    do {                                                                                           \
        if (WindowsProgram())                                                                      \
            GTEST_SKIP() << "not on Windows: " << why;                                             \
    } while (false)

#define ONLY_FOR_WINDOWS()                                                                         \
    do {                                                                                           \
        if (!WindowsProgram())                                                                     \
            GTEST_SKIP() << "runs against the Windows program (KX_RAR_WINDOWS)";                   \
    } while (false)

// The command line that starts the program file (the Windows one through Wine).
std::vector<std::string> ProgramLine(const fs::path &program)
{
    if (!WindowsProgram())
        return {program.string()};
    const char *source = std::getenv("KX_SOURCE_DIR");
    if (!source)
        throw std::runtime_error("KX_SOURCE_DIR is not set: run the tests through ctest");
    return {(fs::path(source) / "scripts/wine-run").string(), program.string()};
}

fs::path ProgramFile()
{
    return WindowsProgram() ? fs::path(WindowsProgram()) : BinDir() / "KX_Rar.exe";
}

RunResult Kx(std::vector<std::string> args, const fs::path &cwd = {})
{
    const std::vector<std::string> line = ProgramLine(ProgramFile());
    args.insert(args.begin(), line.begin(), line.end());
    RunResult r = RunProgram(args, cwd);
    // The program never ends with 1; under Wine, 1 and no word at all is a start of Wine that
    // failed now and then (seen once in a few hundred starts), and is not the program's answer.
    if (WindowsProgram() && r.Code == 1 && r.Output.empty()) {
        std::fprintf(stderr, "Wine did not start the program; starting it again\n");
        r = RunProgram(args, cwd);
    }
    return r;
}

std::string Hex(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

// One entry for MakeRawZip. The name is stored as given, whatever it looks like.
struct RawEntry {
    std::string Name;
    std::string Data;
    bool Symlink = false;
    bool Stored = false;         // no compression
    long long DeclaredSize = -1; // a false size in the central directory
};

// Writes an archive with Python's zipfile, which keeps names and the comment byte for byte.
void MakeRawZip(const fs::path &archive, const std::vector<RawEntry> &entries,
                const std::string &comment = "")
{
    static const char script[] = R"(
import stat, sys, zipfile
archive, comment, *entries = sys.argv[1:]
with zipfile.ZipFile(archive, "w") as z:
    for entry in entries:
        name, data_file, kind, declared = entry.split(":")
        info = zipfile.ZipInfo(bytes.fromhex(name).decode("utf-8"), (2021, 5, 6, 7, 8, 10))
        info.create_system = 3
        kind_bits = stat.S_IFLNK | 0o777 if kind == "link" else stat.S_IFREG | 0o644
        info.external_attr = kind_bits << 16
        info.compress_type = zipfile.ZIP_STORED if kind == "stored" else zipfile.ZIP_DEFLATED
        z.writestr(info, open(bytes.fromhex(data_file), "rb").read())
        if int(declared) >= 0:
            z.getinfo(info.filename).file_size = int(declared)
    z.comment = bytes.fromhex(comment)
)";
    // The data goes through files: an argument holds at most 128 KB.
    const TempFolder data;
    std::vector<std::string> args = {"python3", "-c", script, archive.string(), Hex(comment)};
    for (size_t i = 0; i < entries.size(); ++i) {
        const RawEntry &e = entries[i];
        const std::string kind = e.Symlink ? "link" : e.Stored ? "stored" : "file";
        const fs::path file = data.Write(std::to_string(i), e.Data);
        args.push_back(Hex(e.Name) + ":" + Hex(file.string()) + ":" + kind + ":" +
                       std::to_string(e.DeclaredSize));
    }
    const RunResult r = RunProgram(args);
    ASSERT_EQ(r.Code, 0) << r.Output;
}

// The comment as Python's zipfile reads it: an oracle that shares nothing with the program.
std::string CommentPythonReads(const fs::path &archive)
{
    const TempFolder tmp;
    const fs::path out = tmp.Path() / "comment";
    const RunResult r =
        RunProgram({"python3", "-c",
                    "import sys, zipfile\n"
                    "open(sys.argv[2], 'wb').write(zipfile.ZipFile(sys.argv[1]).comment)",
                    archive.string(), out.string()});
    EXPECT_EQ(r.Code, 0) << r.Output;
    return ReadWholeFile(out);
}

// Every file and folder below root, by relative path; folders map to nullopt.
std::map<std::string, std::optional<std::string>> Tree(const fs::path &root)
{
    std::map<std::string, std::optional<std::string>> tree;
    for (const auto &e : fs::recursive_directory_iterator(root)) {
        const std::string rel = fs::relative(e.path(), root).string();
        if (e.is_symlink())
            tree[rel] = "symlink";
        else if (e.is_directory())
            tree[rel] = std::nullopt;
        else
            tree[rel] = ReadWholeFile(e.path());
    }
    return tree;
}

std::string PseudoRandom(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    for (char &c : bytes) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 16);
    }
    return bytes;
}

// A package tree: nested folders, blanks and Chinese names, an empty file and folder, a file
// larger than one read block, and enough files for every unpacking thread to get some.
void WritePackageTree(const TempFolder &folder, const std::string &top)
{
    folder.Write(top + "/UpdateSQL.sql", "select 1;\r\n");
    folder.Write(top + "/UpdateFiles/a b/文件 一.txt", "中文内容");
    folder.Write(top + "/UpdateFiles/深/层/目/录/deep.bin", PseudoRandom(700 * 1024, 1));
    folder.Write(top + "/UpdateFiles/empty.txt", "");
    fs::create_directories(folder.Path() / top / "UpdateFiles/空 文件夹");
    for (int i = 0; i < 40; ++i)
        folder.Write(top + "/UpdateFiles/many/f" + std::to_string(i) + ".txt",
                     std::string(static_cast<size_t>(i) * 37, static_cast<char>('a' + i % 26)));
}

// A small tree for the tests that need any archive.
void WriteSmallTree(const TempFolder &folder)
{
    folder.Write("src/pkg/UpdateSQL.sql", "select 2;\n");
    folder.Write("src/pkg/UpdateFiles/a.txt", PseudoRandom(5000, 2));
}

// ---------------------------------------------------------------------------------------
// cw: the archive comment into a file

TEST(KxRarComment, WrittenByteForByte)
{
    struct Case {
        const char *Maker; // "python", "own" (the add command) or "zip" (zip -P, then zip -z)
        std::string Comment;
    };
    const Case cases[] = {
        {"python", "[CONFIG]\r\nProductCode=KX\r\nVersion=5.1\r\n"},
        {"python", "[CONFIG]\nName=\xcb\xb7\xe1\xb7\xb2\xfa\xc6\xb7\n"}, // GB18030 bytes
        {"python", "no line end at all"},
        {"python", "PK\x05\x06 inside the comment\x00\xff"s},
        {"python", std::string(65535, 'c')},
        {"own", "[CONFIG]\r\nName=\xcb\xb7\xe1\xb7\xb2\xfa\xc6\xb7\r\n"},
        {"own", "[CONFIG]\nName=ascii only\n"},
        {"zip", "[CONFIG]\nName=\xcb\xb7\xe1\xb7\nVersion=7\n"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        const TempFolder tmp;
        WriteSmallTree(tmp);
        const fs::path archive = tmp.Path() / "包 1.zip";
        const fs::path commentFile = tmp.Write("comment.ini", c.Comment);
        std::string expected = c.Comment;
        if (c.Maker == "python"s) {
            MakeRawZip(archive, {{"pkg/a.txt", "a"}}, c.Comment);
        } else if (c.Maker == "own"s) {
            ASSERT_EQ(
                Kx({"a", "-y", "-pxr352", "-z" + commentFile.string(), archive.string(), "pkg"},
                   tmp.Path() / "src")
                    .Code,
                0)
                << "case " << i;
        } else {
            ASSERT_EQ(RunProgram({"zip", "-qr", "-P", "xr352", archive.string(), "pkg"},
                                 tmp.Path() / "src")
                          .Code,
                      0);
            ASSERT_EQ(RunProgram({"zip", "-qz", archive.string()}, {}, commentFile).Code, 0);
            // zip rewrites line ends; what it stored is what must come out.
            expected = CommentPythonReads(archive);
            ASSERT_NE(expected.find("\xcb\xb7\xe1\xb7"), std::string::npos) << "case " << i;
        }
        const fs::path out = tmp.Path() / "Temp Update" / "Update.ini";
        fs::create_directories(out.parent_path());
        const RunResult r = Kx({"cw", "-y", archive.string(), out.string()});
        EXPECT_EQ(r.Code, 0) << "case " << i << ": " << r.Output;
        EXPECT_EQ(ReadWholeFile(out), expected) << "case " << i;
        if (c.Maker == "own"s) {
            EXPECT_EQ(CommentPythonReads(archive), c.Comment) << "case " << i;
        }
    }
}

TEST(KxRarComment, NoCommentGivesEmptyFileReplacingOldOne)
{
    const TempFolder tmp;
    WriteSmallTree(tmp);
    const fs::path archive = tmp.Path() / "p.zip";
    ASSERT_EQ(
        RunProgram({"zip", "-qr", "-P", "xr352", archive.string(), "pkg"}, tmp.Path() / "src").Code,
        0);
    const fs::path out = tmp.Write("Update.ini", "old descriptor of another package");
    const RunResult r = Kx({"cw", "-y", archive.string(), out.string()});
    EXPECT_EQ(r.Code, 0) << r.Output;
    EXPECT_TRUE(fs::exists(out));
    EXPECT_EQ(ReadWholeFile(out), "");
}

TEST(KxRarComment, UnreadableArchiveLeavesFileAlone)
{
    const TempFolder tmp;
    const fs::path good = tmp.Path() / "good.zip";
    MakeRawZip(good, {{"pkg/a.txt", PseudoRandom(20000, 3)}}, "[CONFIG]\r\nName=x\r\n");
    const std::string whole = ReadWholeFile(good);
    struct Case {
        const char *Name;
        std::optional<std::string> Bytes; // nullopt: no such file
    };
    const Case cases[] = {
        {"missing", std::nullopt},
        {"empty", ""},
        {"text", "this is not an archive\r\n"},
        {"first half", whole.substr(0, whole.size() / 2)},
        {"end cut off", whole.substr(0, whole.size() - 30)},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const fs::path archive = tmp.Path() / (std::string(cases[i].Name) + ".zip");
        if (cases[i].Bytes)
            tmp.Write(archive.filename().string(), *cases[i].Bytes);
        for (const bool present : {false, true}) {
            const fs::path out = tmp.Path() / "Update.ini";
            fs::remove(out);
            if (present)
                tmp.Write("Update.ini", "kept");
            const RunResult r = Kx({"cw", "-y", archive.string(), out.string()});
            EXPECT_EQ(r.Code, kFatal) << "case " << i << ": " << r.Output;
            EXPECT_EQ(fs::exists(out), present) << "case " << i;
            if (present) {
                EXPECT_EQ(ReadWholeFile(out), "kept") << "case " << i;
            }
            for (const auto &e : fs::directory_iterator(tmp.Path())) {
                EXPECT_NE(e.path().filename().string()[0], '.')
                    << "case " << i << ": a temporary file was left";
            }
        }
    }
}

TEST(KxRarComment, FileInMissingFolderCannotBeCreated)
{
    const TempFolder tmp;
    const fs::path archive = tmp.Path() / "p.zip";
    MakeRawZip(archive, {{"a", "a"}}, "c");
    const RunResult r = Kx({"cw", "-y", archive.string(), (tmp.Path() / "no/Update.ini").string()});
    EXPECT_EQ(r.Code, kCannotCreate) << r.Output;
}

// An end record inside the comment: 22 bytes from the signature to a zero comment length that
// ends the file, its directory offset pointing at itself as an empty archive would. Only the
// record that comes first is the archive's.
TEST(KxRarComment, EndRecordInsideTheCommentIsNotTaken)
{
    const TempFolder tmp;
    const fs::path archive = tmp.Path() / "p.zip";
    const std::string head = "[CONFIG]\r\nName=x\r\n";
    const auto comment = [&](uint32_t offset) {
        std::string record = "PK\x05\x06"s + std::string(12, '\0');
        for (int i = 0; i < 4; ++i)
            record += static_cast<char>(offset >> (8 * i) & 0xff);
        return head + record + std::string(2, '\0');
    };
    MakeRawZip(archive, {{"pkg/a.txt", "a"}}, comment(0));
    const std::string fake = comment(static_cast<uint32_t>(fs::file_size(archive) - 22));
    MakeRawZip(archive, {{"pkg/a.txt", "a"}}, fake);
    // Python's zipfile itself takes the later record and reads an empty comment.
    ASSERT_EQ(CommentPythonReads(archive), "");
    const fs::path out = tmp.Path() / "Update.ini";
    const RunResult r = Kx({"cw", "-y", archive.string(), out.string()});
    EXPECT_EQ(r.Code, 0) << r.Output;
    EXPECT_EQ(ReadWholeFile(out), fake);
}

// zip -fz writes the ZIP64 end records; the plain end record then holds no directory offset.
TEST(KxRarComment, ReadThroughTheZip64EndRecord)
{
    const TempFolder tmp;
    WriteSmallTree(tmp);
    const fs::path archive = tmp.Path() / "p.zip";
    const fs::path commentFile = tmp.Write("comment.ini", "[CONFIG]\nName=zip64\n");
    ASSERT_EQ(RunProgram({"zip", "-qr", "-fz", "-z", archive.string(), "pkg"}, tmp.Path() / "src",
                         commentFile)
                  .Code,
              0);
    ASSERT_NE(ReadWholeFile(archive).find("PK\x06\x06"), std::string::npos);
    const std::string expected = CommentPythonReads(archive);
    ASSERT_NE(expected.find("Name=zip64"), std::string::npos);
    const fs::path out = tmp.Path() / "Update.ini";
    const RunResult r = Kx({"cw", "-y", archive.string(), out.string()});
    EXPECT_EQ(r.Code, 0) << r.Output;
    EXPECT_EQ(ReadWholeFile(out), expected);
}

TEST(KxRarComment, EndRecordThatDoesNotMatchTheDirectoryLeavesFileAlone)
{
    const TempFolder tmp;
    const fs::path archive = tmp.Path() / "p.zip";
    const std::string comment = "[CONFIG]\r\nName=x\r\n";
    MakeRawZip(archive, {{"pkg/a.txt", "a"}, {"pkg/b.txt", "b"}}, comment);
    // Three entries claimed, on this disk and in all, where the directory holds two.
    std::string bytes = ReadWholeFile(archive);
    const size_t record = bytes.size() - comment.size() - 22;
    ASSERT_EQ(bytes.compare(record, 4, "PK\x05\x06"), 0);
    bytes[record + 8] = bytes[record + 10] = 3;
    tmp.Write("p.zip", bytes);
    const fs::path out = tmp.Write("Update.ini", "kept");
    const RunResult r = Kx({"cw", "-y", archive.string(), out.string()});
    EXPECT_EQ(r.Code, kFatal) << r.Output;
    EXPECT_EQ(ReadWholeFile(out), "kept");
}

// The program is copied alone into a program folder: it must unpack and make archives there.
TEST(KxRarModule, CopiedProgramUnpacksAndAddsAlone)
{
    const TempFolder tmp;
    WriteSmallTree(tmp);
    const fs::path program = tmp.Path() / "prog" / "KX_Rar.exe";
    fs::create_directories(program.parent_path());
    fs::copy_file(ProgramFile(), program);
    const fs::path archive = tmp.Path() / "p.zip";
    std::vector<std::string> add = ProgramLine(program);
    add.insert(add.end(), {"a", "-y", "-pxr352", archive.string(), "pkg"});
    const RunResult a = RunProgram(add, tmp.Path() / "src");
    ASSERT_EQ(a.Code, 0) << a.Output;
    const fs::path dest = tmp.Path() / "dest";
    std::vector<std::string> extract = ProgramLine(program);
    extract.insert(extract.end(), {"x", "-y", "-pxr352", archive.string(), dest.string()});
    const RunResult x = RunProgram(extract);
    EXPECT_EQ(x.Code, 0) << x.Output;
    EXPECT_EQ(Tree(dest), Tree(tmp.Path() / "src"));
}

// ---------------------------------------------------------------------------------------
// x: unpacking

TEST(KxRarExtract, UnpacksArchivesOfEveryMakerWholeAndExact)
{
    struct Case {
        // Run in the source folder; ARCHIVE stands for the path, KX for the program.
        std::vector<std::string> Make;
        std::vector<std::string> Switches;
    };
    const std::string kx = "KX";
    const Case cases[] = {
        {{"zip", "-qr", "-P", "xr352", "ARCHIVE", "pkg 1"}, {"-pxr352"}},
        {{"zip", "-qr0", "-P", "xr352", "ARCHIVE", "pkg 1"}, {"-pxr352"}},
        // Written to a pipe: sizes after the data, the password check on the time.
        {{"sh", "-c", "zip -qr -P xr352 - 'pkg 1' > \"$0\"", "ARCHIVE"}, {"-pxr352"}},
        {{"7z", "a", "-bd", "-tzip", "-pxr352", "-mem=AES256", "ARCHIVE", "pkg 1"}, {"-pxr352"}},
        {{"7z", "a", "-bd", "-tzip", "-pxr352", "-mem=ZipCrypto", "ARCHIVE", "pkg 1"}, {"-pxr352"}},
        {{kx, "a", "-y", "-pxr352", "ARCHIVE", "pkg 1"}, {"-pxr352"}},
        // Unencrypted entries with and without a password.
        {{"zip", "-qr", "ARCHIVE", "pkg 1"}, {"-pxr352"}},
        {{"zip", "-qr", "ARCHIVE", "pkg 1"}, {}},
        {{kx, "a", "-y", "ARCHIVE", "pkg 1"}, {"-pxr352"}},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const TempFolder tmp;
        const TempFolder source;
        WritePackageTree(source, "pkg 1");
        const fs::path archive = tmp.Path() / "升级 包.zip";
        std::vector<std::string> make;
        for (const std::string &arg : cases[i].Make) {
            if (arg == "KX") {
                const std::vector<std::string> program = ProgramLine(ProgramFile());
                make.insert(make.end(), program.begin(), program.end());
            } else {
                make.push_back(arg == "ARCHIVE" ? archive.string() : arg);
            }
        }
        const RunResult made = RunProgram(make, source.Path());
        ASSERT_EQ(made.Code, 0) << "case " << i << ": " << made.Output;

        const fs::path dest = tmp.Path() / "Temp Update";
        fs::create_directories(dest);
        std::vector<std::string> args = {"x", "-y"};
        args.insert(args.end(), cases[i].Switches.begin(), cases[i].Switches.end());
        args.insert(args.end(), {archive.string(), dest.string()});
        const RunResult r = Kx(args);
        EXPECT_EQ(r.Code, 0) << "case " << i << ": " << r.Output;
        EXPECT_EQ(Tree(dest), Tree(source.Path())) << "case " << i;
    }
}

TEST(KxRarExtract, OwnArchivesUnpackWithTheOtherTools)
{
    struct Case {
        bool Encrypted;
        std::vector<std::string> Unpack; // DEST and ARCHIVE stand for the paths
    };
    const Case cases[] = {
        {true, {"7z", "x", "-bd", "-y", "-pxr352", "-oDEST", "ARCHIVE"}},
        {false, {"7z", "x", "-bd", "-y", "-oDEST", "ARCHIVE"}},
        {false, {"unzip", "-qq", "-P", "xr352", "ARCHIVE", "-d", "DEST"}},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const TempFolder tmp;
        const TempFolder source;
        WritePackageTree(source, "pkg 1");
        const fs::path archive = tmp.Path() / "p.zip";
        std::vector<std::string> add = {"a", "-y", archive.string(), "pkg 1"};
        if (cases[i].Encrypted)
            add.insert(add.begin() + 2, "-pxr352");
        ASSERT_EQ(Kx(add, source.Path()).Code, 0) << "case " << i;
        const fs::path dest = tmp.Path() / "out";
        std::vector<std::string> unpack = cases[i].Unpack;
        for (std::string &arg : unpack) {
            if (arg == "ARCHIVE")
                arg = archive.string();
            else if (arg.ends_with("DEST"))
                arg = arg.substr(0, arg.size() - 4) + dest.string();
        }
        const RunResult r = RunProgram(unpack);
        EXPECT_EQ(r.Code, 0) << "case " << i << ": " << r.Output;
        EXPECT_EQ(Tree(dest), Tree(source.Path())) << "case " << i;
        if (cases[i].Encrypted) {
            const RunResult wrong = RunProgram({"7z", "t", "-bd", "-pnot", archive.string()});
            EXPECT_NE(wrong.Code, 0) << "case " << i << ": the content is not encrypted";
        }
    }
}

TEST(KxRarExtract, WrongOrMissingPasswordUnpacksNothing)
{
    struct Case {
        std::vector<std::string> Make;
        const char *Switch; // nullptr: no password given
    };
    const Case cases[] = {
        {{"zip", "-qr", "-P", "xr352", "ARCHIVE", "pkg"}, "-pxr353"},
        {{"zip", "-qr", "-P", "xr352", "ARCHIVE", "pkg"}, nullptr},
        {{"7z", "a", "-bd", "-tzip", "-pxr352", "-mem=AES256", "ARCHIVE", "pkg"}, "-pXR352"},
        {{"7z", "a", "-bd", "-tzip", "-pxr352", "-mem=AES256", "ARCHIVE", "pkg"}, nullptr},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const TempFolder tmp;
        WriteSmallTree(tmp);
        const fs::path archive = tmp.Path() / "p.zip";
        std::vector<std::string> make;
        for (const std::string &arg : cases[i].Make) {
            if (arg == "KX") {
                const std::vector<std::string> program = ProgramLine(ProgramFile());
                make.insert(make.end(), program.begin(), program.end());
            } else {
                make.push_back(arg == "ARCHIVE" ? archive.string() : arg);
            }
        }
        ASSERT_EQ(RunProgram(make, tmp.Path() / "src").Code, 0) << "case " << i;
        const fs::path dest = tmp.Path() / "out";
        fs::create_directories(dest);
        std::vector<std::string> args = {"x", "-y"};
        if (cases[i].Switch)
            args.push_back(cases[i].Switch);
        args.insert(args.end(), {archive.string(), dest.string()});
        const RunResult r = Kx(args);
        EXPECT_EQ(r.Code, kWrongPassword) << "case " << i << ": " << r.Output;
        EXPECT_TRUE(fs::is_empty(dest)) << "case " << i;
    }
}

TEST(KxRarExtract, RefusedEntryRefusesTheWholeArchive)
{
    const TempFolder tmp;
    const fs::path outside = tmp.Path() / "outside.txt";
    struct Case {
        std::string Name;
        bool Symlink;
    };
    const Case cases[] = {
        {"../outside.txt", false},  {"pkg/../../outside.txt", false},
        {"..\\outside.txt", false}, {"pkg\\..\\..\\outside.txt", false},
        {outside.string(), false},  {"\\outside.txt", false},
        {"C:\\outside.txt", false}, {"c:outside.txt", false},
        {"pkg/link", true},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const fs::path archive = tmp.Path() / "p.zip";
        const std::string data = cases[i].Symlink ? outside.string() : "escaped";
        MakeRawZip(archive, {{"pkg/good.txt", "good"}, {cases[i].Name, data, cases[i].Symlink}},
                   "c");
        const fs::path dest = tmp.Path() / "dest";
        fs::create_directories(dest);
        const RunResult r = Kx({"x", "-y", "-pxr352", archive.string(), dest.string()});
        EXPECT_EQ(r.Code, kFatal) << "case " << i << ": " << r.Output;
        EXPECT_TRUE(fs::is_empty(dest)) << "case " << i;
        EXPECT_FALSE(fs::exists(fs::symlink_status(outside))) << "case " << i;
        EXPECT_EQ(std::distance(fs::directory_iterator(tmp.Path()), {}), 2) << "case " << i;
        fs::remove_all(dest);
    }
}

TEST(KxRarExtract, ReplacesPresentFilesAndLeavesNoTemporaryFiles)
{
    const TempFolder tmp;
    const fs::path archive = tmp.Path() / "p.zip";
    MakeRawZip(archive, {{"pkg/UpdateSQL.sql", "new"}, {"pkg/sub/b.txt", "bee"}});
    const fs::path dest = tmp.Path() / "dest";
    tmp.Write("dest/pkg/UpdateSQL.sql", "an older and much longer content");
    tmp.Write("dest/pkg/other.txt", "kept");
    fs::permissions(dest / "pkg/UpdateSQL.sql", fs::perms::owner_read);
    const RunResult r = Kx({"x", "-y", "-pxr352", archive.string(), dest.string()});
    EXPECT_EQ(r.Code, 0) << r.Output;
    const std::map<std::string, std::optional<std::string>> expected = {
        {"pkg", std::nullopt},     {"pkg/UpdateSQL.sql", "new"}, {"pkg/other.txt", "kept"},
        {"pkg/sub", std::nullopt}, {"pkg/sub/b.txt", "bee"},
    };
    EXPECT_EQ(Tree(dest), expected);
}

TEST(KxRarExtract, DamagedDataLeavesNoTruncatedFile)
{
    const std::string content = PseudoRandom(300000, 4);
    struct Case {
        bool Stored;
        int Code;
    };
    // A stored entry keeps its bytes, so the flip shows as a checksum error; in a deflated
    // one it may break the stream first.
    const Case cases[] = {{true, kChecksum}, {false, 0}};
    for (size_t i = 0; i < std::size(cases); ++i) {
        const TempFolder tmp;
        const fs::path archive = tmp.Path() / "p.zip";
        MakeRawZip(archive, {{"pkg/big.bin", content, false, cases[i].Stored}});
        std::string bytes = ReadWholeFile(archive);
        bytes[bytes.size() / 2] ^= 0x55;
        tmp.Write("p.zip", bytes);
        const fs::path dest = tmp.Path() / "dest";
        const RunResult r = Kx({"x", "-y", archive.string(), dest.string()});
        if (cases[i].Code != 0) {
            EXPECT_EQ(r.Code, cases[i].Code) << "case " << i << ": " << r.Output;
        } else {
            EXPECT_TRUE(r.Code == kChecksum || r.Code == kFatal)
                << "case " << i << ": " << r.Output;
        }
        const std::map<std::string, std::optional<std::string>> expected = {{"pkg", std::nullopt}};
        EXPECT_EQ(Tree(dest), expected) << "case " << i;
    }
}

TEST(KxRarExtract, NeverWritesThroughFilesOrLinksInTheTarget)
{
    const TempFolder tmp;
    const fs::path archive = tmp.Path() / "p.zip";
    MakeRawZip(archive, {{"pkg/sub/a.txt", "a"}});
    struct Case {
        const char *What;
    };
    const Case cases[] = {{"link to a folder outside"}, {"file"}};
    for (size_t i = 0; i < std::size(cases); ++i) {
        // Wine shows a host's symbolic link as the folder it points to, not as a reparse
        // point; KxRarWindows.JunctionInTheTargetIsNotFollowed takes its place there.
        if (i == 0 && WindowsProgram())
            continue;
        const fs::path dest = tmp.Path() / "dest";
        const fs::path elsewhere = tmp.Path() / "elsewhere";
        fs::create_directories(dest / "pkg");
        fs::create_directories(elsewhere);
        if (i == 0)
            fs::create_directory_symlink(elsewhere, dest / "pkg/sub");
        else
            tmp.Write("dest/pkg/sub", "a file where a folder belongs");
        const RunResult r = Kx({"x", "-y", archive.string(), dest.string()});
        EXPECT_EQ(r.Code, kCannotCreate) << "case " << i << ": " << r.Output;
        EXPECT_TRUE(fs::is_empty(elsewhere)) << "case " << i;
        fs::remove_all(dest);
        fs::remove_all(elsewhere);
    }
}

// Folders past the 260 characters of Windows' old path limit: the archive, the inputs of a,
// the file cw writes, and the target of x with its missing parents.
TEST(KxRarExtract, FoldersPastTheOldWindowsPathLimit)
{
    const TempFolder tmp;
    std::string deep;
    for (int i = 0; (tmp.Path() / deep).string().size() < 300; ++i)
        deep += "深层 folder " + std::to_string(i) + "/";
    WritePackageTree(tmp, deep + "src/pkg");
    const fs::path base = tmp.Path() / deep;
    const std::string comment = "[CONFIG]\r\nName=deep\r\n";
    const fs::path commentFile = tmp.Write(deep + "Update.ini", comment);
    const fs::path archive = base / "升级包.zip";
    const RunResult a = Kx({"a", "-y", "-pxr352", "-z" + commentFile.string(), archive.string(),
                            (base / "src").string()});
    ASSERT_EQ(a.Code, 0) << a.Output;
    const fs::path out = base / "Temp Update" / "Update.ini";
    fs::create_directories(out.parent_path());
    const RunResult cw = Kx({"cw", "-y", archive.string(), out.string()});
    EXPECT_EQ(cw.Code, 0) << cw.Output;
    EXPECT_EQ(ReadWholeFile(out), comment);
    const fs::path dest = base / "new" / "parent" / "TempUpdate";
    const RunResult x = Kx({"x", "-y", "-pxr352", archive.string(), dest.string()});
    EXPECT_EQ(x.Code, 0) << x.Output;
    // Entries of absolute inputs are named by the whole path, without its root.
    EXPECT_EQ(Tree(dest / base.relative_path() / "src"), Tree(base / "src"));
}

TEST(KxRarExtract, EntryLargerThanFreeSpaceIsRefusedBeforeWriting)
{
    const TempFolder tmp;
    const fs::path archive = tmp.Path() / "p.zip";
    // The central directory claims a petabyte; the data itself is small.
    MakeRawZip(archive, {{"pkg/a.txt", "a"}, {"pkg/huge.bin", "small", false, false, 1LL << 50}});
    const fs::path dest = tmp.Path() / "dest";
    fs::create_directories(dest);
    const RunResult r = Kx({"x", "-y", archive.string(), dest.string()});
    EXPECT_EQ(r.Code, kFatal) << r.Output;
    EXPECT_TRUE(fs::is_empty(dest));
}

TEST(KxRarExtract, UnreadableArchive)
{
    const TempFolder tmp;
    tmp.Write("text.zip", "not an archive");
    tmp.Write("empty.zip", "");
    for (const char *name : {"text.zip", "empty.zip", "missing.zip"}) {
        const RunResult r =
            Kx({"x", "-y", "-pxr352", (tmp.Path() / name).string(), (tmp.Path() / "d").string()});
        EXPECT_EQ(r.Code, kFatal) << name << ": " << r.Output;
    }
}

// ---------------------------------------------------------------------------------------
// Hostile and unusual archives, crafted byte by byte where no tool writes them.

std::string LeBytes(uint64_t value, int bytes)
{
    std::string out;
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>(value >> (8 * i) & 0xff);
    return out;
}

uint32_t Crc32Of(const std::string &bytes)
{
    uint32_t crc = 0xffffffff;
    for (unsigned char c : bytes) {
        crc ^= c;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

// Traditional ZIP encryption, to make entries whose password check a wrong password passes.
class TraditionalCipher {
public:
    explicit TraditionalCipher(const std::string &password)
    {
        for (unsigned char c : password)
            Update(c);
    }
    std::string Encrypt(const std::string &plain)
    {
        std::string out;
        for (unsigned char c : plain) {
            out += static_cast<char>(c ^ Stream());
            Update(c);
        }
        return out;
    }
    std::string Decrypt(const std::string &cipher)
    {
        std::string out;
        for (unsigned char c : cipher) {
            const unsigned char plain = c ^ Stream();
            out += static_cast<char>(plain);
            Update(plain);
        }
        return out;
    }

private:
    static uint32_t CrcByte(uint32_t crc, unsigned char c)
    {
        crc ^= c;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1)));
        return crc;
    }
    void Update(unsigned char c)
    {
        keys_[0] = CrcByte(keys_[0], c);
        keys_[1] = (keys_[1] + (keys_[0] & 0xff)) * 134775813u + 1;
        keys_[2] = CrcByte(keys_[2], static_cast<unsigned char>(keys_[1] >> 24));
    }
    unsigned char Stream() const
    {
        const uint32_t t = (keys_[2] | 2) & 0xffff;
        return static_cast<unsigned char>((t * (t ^ 1)) >> 8);
    }
    uint32_t keys_[3] = {0x12345678, 0x23456789, 0x34567890};
};

// The fixed salt of crafted AES entries, and a wrong password whose verifier under it equals
// that of "xr352" (found once by search: 1 password in 65,536 passes).
const std::string kAesSalt = [] {
    std::string salt;
    for (int i = 0; i < 16; ++i)
        salt += static_cast<char>(i);
    return salt;
}();
constexpr const char *kAesWrongButVerified = "wrong87054";

// WinZip AES-256 (AE-1) over stored data: salt, verifier, CTR data, 10 bytes of HMAC-SHA1.
std::string AesEncrypt(const std::string &password, const std::string &plain)
{
    unsigned char keys[66];
    PKCS5_PBKDF2_HMAC_SHA1(password.data(), static_cast<int>(password.size()),
                           reinterpret_cast<const unsigned char *>(kAesSalt.data()),
                           static_cast<int>(kAesSalt.size()), 1000, sizeof keys, keys);
    std::string cipher;
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, EVP_aes_256_ecb(), nullptr, keys, nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    for (size_t at = 0; at < plain.size(); at += 16) {
        const std::string counter = LeBytes(at / 16 + 1, 8) + std::string(8, '\0');
        unsigned char block[32];
        int n = 0;
        EVP_EncryptUpdate(ctx, block, &n, reinterpret_cast<const unsigned char *>(counter.data()),
                          16);
        for (size_t i = at; i < std::min(plain.size(), at + 16); ++i)
            cipher += static_cast<char>(plain[i] ^ block[i - at]);
    }
    EVP_CIPHER_CTX_free(ctx);
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned macSize = 0;
    HMAC(EVP_sha1(), keys + 32, 32, reinterpret_cast<const unsigned char *>(cipher.data()),
         cipher.size(), mac, &macSize);
    return kAesSalt + std::string(reinterpret_cast<char *>(keys + 64), 2) + cipher +
           std::string(reinterpret_cast<char *>(mac), 10);
}

// One stored entry of a crafted archive.
struct Crafted {
    std::string Name;
    std::string Content;
    enum { Plain, Traditional, Aes } Lock = Plain;
    std::string Password = "xr352";
};

struct CraftedFields {
    uint16_t Flags = 0;
    uint16_t Method = 0;
    std::string Extra;
    std::string Data;
};

CraftedFields FieldsOf(const Crafted &e)
{
    CraftedFields f;
    if (e.Lock == Crafted::Traditional) {
        // Eleven header bytes, then the check byte: the high byte of the checksum.
        std::string header = "0123456789a";
        header += static_cast<char>(Crc32Of(e.Content) >> 24);
        f.Flags = 1;
        f.Data = TraditionalCipher(e.Password).Encrypt(header + e.Content);
    } else if (e.Lock == Crafted::Aes) {
        f.Flags = 1;
        f.Method = 99;
        f.Extra =
            LeBytes(0x9901, 2) + LeBytes(7, 2) + LeBytes(1, 2) + "AE" + '\x03' + LeBytes(0, 2);
        f.Data = AesEncrypt(e.Password, e.Content);
    } else {
        f.Data = e.Content;
    }
    return f;
}

// The fields that local and central headers share, from the version needed on.
std::string CommonFields(const Crafted &e, const CraftedFields &f)
{
    return LeBytes(20, 2) + LeBytes(f.Flags, 2) + LeBytes(f.Method, 2) + LeBytes(0, 2) +
           LeBytes((41 << 9) | (5 << 5) | 6, 2) + LeBytes(Crc32Of(e.Content), 4) +
           LeBytes(f.Data.size(), 4) + LeBytes(e.Content.size(), 4) + LeBytes(e.Name.size(), 2) +
           LeBytes(f.Extra.size(), 2);
}

std::string LocalEntry(const Crafted &e)
{
    const CraftedFields f = FieldsOf(e);
    return "PK\x03\x04" + CommonFields(e, f) + e.Name + f.Extra + f.Data;
}

std::string CentralHeader(const Crafted &e, size_t localAt)
{
    const CraftedFields f = FieldsOf(e);
    return "PK\x01\x02" + LeBytes(0x031e, 2) + CommonFields(e, f) + LeBytes(0, 2) + LeBytes(0, 2) +
           LeBytes(0, 2) + LeBytes(0100644u << 16, 4) + LeBytes(localAt, 4) + e.Name + f.Extra;
}

std::string EndRecord(size_t entries, size_t directorySize, size_t directoryAt,
                      const std::string &comment)
{
    return "PK\x05\x06"s + LeBytes(0, 4) + LeBytes(entries, 2) + LeBytes(entries, 2) +
           LeBytes(directorySize, 4) + LeBytes(directoryAt, 4) + LeBytes(comment.size(), 2) +
           comment;
}

// A well-formed archive of crafted entries, in order.
std::string CraftZip(const std::vector<Crafted> &entries, const std::string &comment = "")
{
    std::string bytes, directory;
    for (const Crafted &e : entries) {
        directory += CentralHeader(e, bytes.size());
        bytes += LocalEntry(e);
    }
    const size_t at = bytes.size();
    return bytes + directory + EndRecord(entries.size(), directory.size(), at, comment);
}

// Bytes read by the children this process has waited for (the kernel adds a reaped child's
// counts to its parent's).
uint64_t BytesReadByChildren()
{
    std::ifstream io("/proc/self/io");
    std::string key;
    uint64_t value = 0;
    while (io >> key >> value) {
        if (key == "rchar:")
            return value;
    }
    return 0;
}

// Thousands of end records at the end of a file whose start holds a chain of central headers:
// every record's comment reaches to the end of the file and claims the directory from offset
// 0 up to itself, one entry more than the chain holds. Reading each claimed directory reads
// the file once per record.
TEST(KxRarHostile, ManyEndRecordsAreReadWithBoundedWork)
{
    const TempFolder tmp;
    const Crafted header{std::string(100, 'x'), ""};
    std::string bytes;
    size_t chain = 0;
    while (bytes.size() < 4 * 1024 * 1024) {
        bytes += CentralHeader(header, 0);
        ++chain;
    }
    const size_t records = 2900;
    const size_t size = bytes.size() + records * 22;
    for (size_t k = 0; k < records; ++k) {
        const size_t at = bytes.size();
        std::string record = EndRecord(0, at, 0, "");
        record.replace(8, 4, LeBytes(chain + 1, 2) + LeBytes(chain + 1, 2));
        record.replace(20, 2, LeBytes(size - at - 22, 2));
        bytes += record;
    }
    const fs::path archive = tmp.Write("stall.zip", bytes);
    // Under Wine the count also holds Wine's own start (its libraries, some 8 MB): measured on
    // a start that reads no archive, and taken off.
    uint64_t startCost = 0;
    if (WindowsProgram()) {
        const uint64_t before = BytesReadByChildren();
        Kx({"cw", "-y", (tmp.Path() / "missing.zip").string(), (tmp.Path() / "out").string()});
        startCost = BytesReadByChildren() - before;
    }
    for (const char *command : {"cw", "x"}) {
        const uint64_t before = BytesReadByChildren();
        const RunResult r = Kx({command, "-y", archive.string(), (tmp.Path() / "out").string()});
        const uint64_t read = BytesReadByChildren() - before - startCost;
        EXPECT_EQ(r.Code, kFatal) << command << ": " << r.Output;
        // The tail once, a few bytes per record, the one directory that qualifies once.
        EXPECT_LT(read, 2 * bytes.size() + 4 * 1024 * 1024) << command;
        EXPECT_FALSE(fs::exists(tmp.Path() / "out")) << command;
    }
}

TEST(KxRarHostile, NonRegularArchiveIsRefusedWithoutBlocking)
{
    const TempFolder tmp;
    const fs::path fifo = tmp.Path() / "fifo.zip";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    fs::create_directories(tmp.Path() / "folder.zip");
    // Windows has neither FIFOs nor /dev; Wine shows them through its own devices.
    std::vector<fs::path> archives = {tmp.Path() / "folder.zip"};
    if (!WindowsProgram())
        archives.insert(archives.end(), {fifo, fs::path("/dev/zero")});
    for (const fs::path &archive : archives) {
        const fs::path dest = tmp.Path() / "dest" / "TempUpdate";
        const fs::path out = tmp.Path() / "Update.ini";
        // timeout only ends a program that blocks, so that the failure shows instead of a hang.
        for (const std::vector<std::string> &args :
             {std::vector<std::string>{"x", "-y", "-pxr352", archive.string(), dest.string()},
              std::vector<std::string>{"cw", "-y", archive.string(), out.string()}}) {
            std::vector<std::string> line = {"timeout", "20"};
            const std::vector<std::string> program = ProgramLine(ProgramFile());
            line.insert(line.end(), program.begin(), program.end());
            line.insert(line.end(), args.begin(), args.end());
            const RunResult r = RunProgram(line);
            EXPECT_EQ(r.Code, kFatal) << archive << " " << args[0] << ": " << r.Output;
            EXPECT_NE(r.Output.find("not a regular file"), std::string::npos) << r.Output;
            EXPECT_FALSE(fs::exists(tmp.Path() / "dest")) << archive << " " << args[0];
            EXPECT_FALSE(fs::exists(out)) << archive << " " << args[0];
        }
    }
}

TEST(KxRarHostile, LongCommentsUnpack)
{
    for (const size_t length : std::vector<size_t>{16383, 16384, 16406, 40000, 65535}) {
        const TempFolder tmp;
        WriteSmallTree(tmp);
        std::string comment = "[CONFIG]\r\nNotes=";
        comment += PseudoRandom(length - comment.size(), 9);
        const fs::path commentFile = tmp.Write("comment.ini", comment);
        const fs::path archive = tmp.Path() / "p.zip";
        ASSERT_EQ(Kx({"a", "-y", "-pxr352", "-z" + commentFile.string(), archive.string(), "pkg"},
                     tmp.Path() / "src")
                      .Code,
                  0);
        const fs::path dest = tmp.Path() / "dest";
        const RunResult x = Kx({"x", "-y", "-pxr352", archive.string(), dest.string()});
        EXPECT_EQ(x.Code, 0) << length << ": " << x.Output;
        EXPECT_EQ(Tree(dest), Tree(tmp.Path() / "src")) << length;
        const RunResult cw = Kx({"cw", "-y", archive.string(), (tmp.Path() / "c.ini").string()});
        EXPECT_EQ(cw.Code, 0) << length << ": " << cw.Output;
        EXPECT_EQ(ReadWholeFile(tmp.Path() / "c.ini"), comment) << length;
    }
}

// The comment command and the unpack command read one and the same archive: the descriptor
// the scan reads is the one of what is unpacked, or both refuse.
TEST(KxRarHostile, CommentAndUnpackSeeTheSameArchive)
{
    const Crafted real{"pkg/a.txt", "real content"};
    const std::string realComment = "[CONFIG]\r\nName=real\r\n";
    const Crafted fakeEntry{"pkg/fake.txt", "fake"};
    struct Case {
        const char *What;
        std::string Bytes;
        std::optional<std::string> Comment; // nullopt: both commands refuse
        std::map<std::string, std::optional<std::string>> Unpacked;
    };
    const std::map<std::string, std::optional<std::string>> realTree = {
        {"pkg", std::nullopt}, {"pkg/a.txt", "real content"}};
    std::vector<Case> cases;
    {
        // An end record hidden in the comment, claiming an empty archive right after the real
        // directory, as the library's backward search would take it.
        const size_t directoryEnd = CraftZip({real}).size() - 22;
        const std::string hidden = "PK\x05\x06"s + LeBytes(0, 8) + LeBytes(0, 4) +
                                   LeBytes(directoryEnd, 4) + LeBytes(0, 2);
        const std::string comment = realComment + hidden;
        cases.push_back(
            {"end record in the comment", CraftZip({real}, comment), comment, realTree});
    }
    {
        // Text, then an end record that claims one entry in it.
        const std::string text = "This is no archive, only text that claims to be one.\r\n";
        cases.push_back(
            {"text with an end record", text + EndRecord(1, text.size(), 0, ""), std::nullopt, {}});
    }
    {
        // The last entry's data holds a directory and an end record claiming it, with the
        // comment "FAKE"; the real directory and end record follow.
        Crafted carrier{"pkg/carrier.bin", ""};
        // The carrier's own data: a fake entry, its directory, its end record.
        const size_t carrierAt = LocalEntry(real).size();
        const size_t dataAt = carrierAt + 30 + carrier.Name.size();
        const std::string fakeLocal = LocalEntry(fakeEntry);
        const std::string fakeDir = CentralHeader(fakeEntry, dataAt);
        carrier.Content =
            fakeLocal + fakeDir + EndRecord(1, fakeDir.size(), dataAt + fakeLocal.size(), "FAKE");
        std::map<std::string, std::optional<std::string>> tree = realTree;
        tree["pkg/carrier.bin"] = carrier.Content;
        cases.push_back({"directory and end record in the last entry",
                         CraftZip({real, carrier}, realComment), realComment, tree});
    }
    {
        // The local header names another file than the central directory.
        std::string bytes = CraftZip({real, Crafted{"pkg/b.txt", "b"}}, realComment);
        const size_t second = bytes.find("PK\x03\x04", 4);
        bytes.replace(second + 30, 9, "pkg/c.txt");
        cases.push_back({"local name differs", bytes, realComment, {}});
    }
    {
        // A central entry that points at no local header.
        std::string bytes = CraftZip({real}, realComment);
        const size_t central = bytes.find("PK\x01\x02");
        bytes.replace(central + 42, 4, LeBytes(5, 4));
        cases.push_back({"no local header", bytes, realComment, {}});
    }
    for (const Case &c : cases) {
        const TempFolder tmp;
        const fs::path archive = tmp.Write("p.zip", c.Bytes);
        const fs::path out = tmp.Path() / "Update.ini";
        const RunResult cw = Kx({"cw", "-y", archive.string(), out.string()});
        const fs::path dest = tmp.Path() / "dest";
        const RunResult x = Kx({"x", "-y", "-pxr352", archive.string(), dest.string()});
        if (!c.Comment) {
            EXPECT_EQ(cw.Code, kFatal) << c.What << ": " << cw.Output;
            EXPECT_EQ(x.Code, kFatal) << c.What << ": " << x.Output;
            EXPECT_FALSE(fs::exists(dest)) << c.What;
            continue;
        }
        EXPECT_EQ(cw.Code, 0) << c.What << ": " << cw.Output;
        EXPECT_EQ(ReadWholeFile(out), *c.Comment) << c.What;
        if (c.Unpacked.empty()) {
            EXPECT_EQ(x.Code, kFatal) << c.What << ": " << x.Output;
            EXPECT_FALSE(fs::exists(dest)) << c.What;
        } else {
            EXPECT_EQ(x.Code, 0) << c.What << ": " << x.Output;
            EXPECT_EQ(Tree(dest), c.Unpacked) << c.What;
        }
    }
}

TEST(KxRarHostile, OverlappingEntriesAndTotalSizeAreRefusedBeforeWriting)
{
    struct Case {
        const char *What;
        std::function<void(const fs::path &)> Make;
    };
    const Case cases[] = {
        {"100 directory entries over one local entry",
         [](const fs::path &archive) {
             // One name throughout: only the shared data tells the entries apart.
             const Crafted bomb{"pkg/bomb.bin", std::string(64 * 1024, 'z')};
             std::string bytes = "  " + LocalEntry(bomb); // the first entry need not start at 0
             std::string directory;
             for (int i = 0; i < 100; ++i)
                 directory += CentralHeader(bomb, 2);
             const size_t at = bytes.size();
             bytes += directory + EndRecord(100, directory.size(), at, "");
             std::ofstream(archive, std::ios::binary) << bytes;
         }},
        {"two entries whose data overlap",
         [](const fs::path &archive) {
             const Crafted first{"pkg/a.bin", std::string(1000, 'a')};
             const std::string local = LocalEntry(first);
             // The second local header lies inside the first entry's data.
             const Crafted second{"pkg/b.bin", "b"};
             std::string bytes = local;
             const size_t inside = 30 + first.Name.size() + 100;
             bytes.replace(inside, LocalEntry(second).size(), LocalEntry(second));
             const std::string directory = CentralHeader(first, 0) + CentralHeader(second, inside);
             const size_t at = bytes.size();
             bytes += directory + EndRecord(2, directory.size(), at, "");
             std::ofstream(archive, std::ios::binary) << bytes;
         }},
        {"two entries that fit the free space alone but not together",
         [](const fs::path &archive) {
             struct statvfs info {};
             ASSERT_EQ(statvfs(archive.parent_path().c_str(), &info), 0);
             const long long free = static_cast<long long>(info.f_bavail) * info.f_frsize;
             MakeRawZip(archive, {{"pkg/a.txt", "a", false, false, free / 5 * 3},
                                  {"pkg/b.txt", "b", false, false, free / 5 * 3}});
         }},
        {"two entries whose sizes add up past 64 bits",
         [](const fs::path &archive) {
             MakeRawZip(archive, {{"pkg/a.txt", "a", false, false, 1LL << 62},
                                  {"pkg/b.txt", "b", false, false, 1LL << 62},
                                  {"pkg/c.txt", "c", false, false, 1LL << 62},
                                  {"pkg/d.txt", "d", false, false, 1LL << 62}});
         }},
    };
    for (const Case &c : cases) {
        const TempFolder tmp;
        const fs::path archive = tmp.Path() / "p.zip";
        c.Make(archive);
        const fs::path dest = tmp.Path() / "dest";
        const RunResult r = Kx({"x", "-y", "-pxr352", archive.string(), dest.string()});
        EXPECT_EQ(r.Code, kFatal) << c.What << ": " << r.Output;
        EXPECT_FALSE(fs::exists(dest)) << c.What;
    }
}

TEST(KxRarHostile, EncryptedMethodsTheLibraryCannotDecryptAreNamed)
{
    for (const char *method : {"BZip2", "LZMA", "PPMd"}) {
        const TempFolder tmp;
        tmp.Write("src/pkg/a.txt", std::string(20000, 'x') + PseudoRandom(1000, 5));
        const fs::path archive = tmp.Path() / "p.zip";
        const fs::path dest = tmp.Path() / "dest";
        for (const char *encryption : {"ZipCrypto", "AES256"}) {
            fs::remove(archive);
            const RunResult made =
                RunProgram({"7z", "a", "-bd", "-tzip", "-pxr352", "-mm="s + method,
                            "-mem="s + encryption, archive.string(), "pkg"},
                           tmp.Path() / "src");
            ASSERT_EQ(made.Code, 0) << made.Output;
            const RunResult r = Kx({"x", "-y", "-pxr352", archive.string(), dest.string()});
            EXPECT_EQ(r.Code, kFatal) << method << " " << encryption << ": " << r.Output;
            EXPECT_NE(r.Output.find("is not supported"), std::string::npos) << r.Output;
            EXPECT_FALSE(fs::exists(dest)) << method << " " << encryption;
        }
        // Unencrypted, the same methods unpack; the Windows program has no bzip2 or xz
        // library, and names those methods instead.
        fs::remove(archive);
        ASSERT_EQ(RunProgram({"7z", "a", "-bd", "-tzip", "-mm="s + method, archive.string(), "pkg"},
                             tmp.Path() / "src")
                      .Code,
                  0);
        const RunResult plain = Kx({"x", "-y", archive.string(), dest.string()});
        if (WindowsProgram() && method != "PPMd"s) {
            EXPECT_EQ(plain.Code, kFatal) << method << ": " << plain.Output;
            EXPECT_NE(plain.Output.find("data is not supported"), std::string::npos)
                << plain.Output;
            EXPECT_FALSE(fs::exists(dest)) << method;
            continue;
        }
        EXPECT_EQ(plain.Code, 0) << method << ": " << plain.Output;
        EXPECT_EQ(Tree(dest), Tree(tmp.Path() / "src")) << method;
    }
}

// A wrong password that passes the format's quick check: the traditional check byte (found by
// search among a few hundred), or the AES verifier (kAesWrongButVerified). An unencrypted
// entry comes first, so a check made too late shows as a written file. A small encrypted
// entry is tried before anything is written; a large one (over 8 MB) is unpacked first and its
// folders removed again.
TEST(KxRarHostile, WrongPasswordPassingTheQuickCheckWritesNothing)
{
    const Crafted plain{"pkg/UpdateSQL.sql", "select 1;"};
    const std::string small = "the secret content", large = PseudoRandom(9 << 20, 11);
    struct Case {
        Crafted Secret;
        std::string Wrong; // empty: search for one that passes the check byte
    };
    const Case cases[] = {
        {{"pkg/secret.txt", small, Crafted::Traditional}, ""},
        {{"pkg/secret.txt", small, Crafted::Aes}, kAesWrongButVerified},
        {{"pkg/sub/large.bin", large, Crafted::Traditional}, ""},
        {{"pkg/sub/large.bin", large, Crafted::Aes}, kAesWrongButVerified},
    };
    for (const Case &c : cases) {
        std::string wrong = c.Wrong;
        if (wrong.empty()) {
            const std::string header = LocalEntry(c.Secret).substr(30 + c.Secret.Name.size(), 12);
            const char checkByte = static_cast<char>(Crc32Of(c.Secret.Content) >> 24);
            for (int i = 0; wrong.empty(); ++i) {
                const std::string candidate = "wrong" + std::to_string(i);
                if (TraditionalCipher(candidate).Decrypt(header).back() == checkByte)
                    wrong = candidate;
            }
        }
        const std::string what = c.Secret.Name + " " + wrong;
        const TempFolder tmp;
        const fs::path archive = tmp.Write("p.zip", CraftZip({plain, c.Secret}));
        const fs::path dest = tmp.Path() / "new" / "dest";
        const RunResult right = Kx({"x", "-y", "-pxr352", archive.string(), dest.string()});
        ASSERT_EQ(right.Code, 0) << what << ": " << right.Output;
        EXPECT_TRUE(ReadWholeFile(dest / c.Secret.Name) == c.Secret.Content) << what;
        fs::remove_all(tmp.Path() / "new");
        const RunResult r = Kx({"x", "-y", "-p" + wrong, archive.string(), dest.string()});
        EXPECT_EQ(r.Code, kWrongPassword) << what << ": " << r.Output;
        EXPECT_FALSE(fs::exists(tmp.Path() / "new")) << what;
    }
}

// AES data changed after it was written: a flipped byte of the data or of the authentication
// code is found by the code (the stored checksum is the data's own), and the entry is refused.
TEST(KxRarHostile, ChangedAesDataOrCodeIsRefused)
{
    const std::string content = PseudoRandom(70000, 5);
    const Crafted secret{"pkg/secret.bin", content, Crafted::Aes};
    const std::string sealed = AesEncrypt("xr352", content);
    const std::string clean = CraftZip({secret});
    const size_t at = clean.find(sealed);
    ASSERT_NE(at, std::string::npos);
    const struct {
        const char *what;
        size_t offset; // within the entry's data: salt, verifier, encrypted data, code
    } cases[] = {
        {"the first encrypted byte", 18},
        {"the last encrypted byte", sealed.size() - 11},
        {"the authentication code", sealed.size() - 1},
    };
    for (const auto &c : cases) {
        std::string changed = clean;
        changed[at + c.offset] ^= 0x20;
        const TempFolder tmp;
        const fs::path archive = tmp.Write("p.zip", changed);
        const RunResult r =
            Kx({"x", "-y", "-pxr352", archive.string(), (tmp.Path() / "dest").string()});
        EXPECT_EQ(r.Code, kWrongPassword) << c.what << ": " << r.Output;
        EXPECT_FALSE(fs::exists(tmp.Path() / "dest" / secret.Name) &&
                     ReadWholeFile(tmp.Path() / "dest" / secret.Name) == content)
            << c.what;
    }
}

TEST(KxRarHostile, FileAndFolderAtOnePathAreRefusedBeforeWriting)
{
    const std::vector<std::vector<std::string>> cases = {
        {"pkg/a", "pkg/a/b"},
        {"pkg/a/b", "pkg/a"},
        {"pkg/a", "pkg\\a\\b"},
        {"pkg/a/", "pkg/a"},
        {"pkg/a/b/c", "pkg/x", "pkg/a/b"},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const TempFolder tmp;
        std::vector<RawEntry> entries;
        for (const std::string &name : cases[i])
            entries.push_back({name, name.ends_with('/') ? "" : "content of " + name});
        const fs::path archive = tmp.Path() / "p.zip";
        MakeRawZip(archive, entries);
        const fs::path dest = tmp.Path() / "dest";
        const RunResult r = Kx({"x", "-y", archive.string(), dest.string()});
        EXPECT_EQ(r.Code, kFatal) << "case " << i << ": " << r.Output;
        EXPECT_FALSE(fs::exists(dest)) << "case " << i;
    }
}

// The target and its missing parents appear only when every check has passed.
TEST(KxRarHostile, RefusedArchiveCreatesNoFolders)
{
    const TempFolder tmp;
    MakeRawZip(tmp.Path() / "climbs.zip", {{"pkg/a.txt", "a"}, {"../x.txt", "x"}});
    tmp.Write("text.zip", "not an archive");
    WriteSmallTree(tmp);
    ASSERT_EQ(RunProgram({"zip", "-qr", "-P", "xr352", (tmp.Path() / "locked.zip").string(), "pkg"},
                         tmp.Path() / "src")
                  .Code,
              0);
    struct Case {
        const char *Archive;
        const char *Password;
        int Code;
    };
    const Case cases[] = {
        {"climbs.zip", "-pxr352", kFatal},
        {"text.zip", "-pxr352", kFatal},
        {"missing.zip", "-pxr352", kFatal},
        {"locked.zip", "-pxr353", kWrongPassword},
    };
    for (const Case &c : cases) {
        const fs::path dest = tmp.Path() / "new" / "parent" / "TempUpdate";
        const RunResult r =
            Kx({"x", "-y", c.Password, (tmp.Path() / c.Archive).string(), dest.string()});
        EXPECT_EQ(r.Code, c.Code) << c.Archive << ": " << r.Output;
        EXPECT_FALSE(fs::exists(tmp.Path() / "new")) << c.Archive;
    }
}

// Names longer than the file system takes (255 bytes on Linux and under Wine, 255 UTF-16
// units on Windows) and whole paths past the archiver's bound (4,095 of the same units, the
// target's full path included) refuse the archive before anything is written, even where
// the system could still reach the folder through the open parent; names and paths at the
// limits unpack.
TEST(KxRarHostile, OverlongNamesAndPathsAreRefusedBeforeWriting)
{
    const TempFolder tmp;
    const fs::path dest = tmp.Path() / "new" / "dest";
    // The target's full path as the program sees it: on Windows with "Z:" before it.
    const size_t target = dest.string().size() + (WindowsProgram() ? 2 : 0);
    // Parts of 200 characters, then one to end the path at exactly the given length.
    const auto pathOf = [&](size_t length) {
        std::string path;
        const size_t room = length - target - 1;
        while (path.size() + 201 < room)
            path += std::string(200, 'd') + "/";
        return path + std::string(room - path.size(), 'f');
    };
    std::string chinese86, chinese256;
    for (int i = 0; i < 256; ++i)
        chinese256 += "中";
    for (int i = 0; i < 86; ++i)
        chinese86 += "中";
    struct Case {
        std::string Name;
        const char *Reason; // nullptr: unpacks
    };
    const Case cases[] = {
        {"pkg/" + std::string(256, 'n'), "longer than the 255"},
        {"pkg/" + std::string(256, 'n') + "/a.txt", "longer than the 255"},
        {"pkg/" + chinese256, "longer than the 255"},
        {"pkg/" + pathOf(4096), "longer than the 4095"},
        {pathOf(6000), "longer than the 4095"},
        {"pkg/" + std::string(255, 'n'), nullptr},
        {pathOf(4095), nullptr},
        // 86 characters of three bytes: 258 bytes for Linux, 86 units for Windows, but Wine
        // keeps names in UTF-8 on its Linux host, which cuts the name to 85 characters.
        {"pkg/" + chinese86, "258 bytes"},
        {"pkg/" + chinese86.substr(0, 85 * 3), nullptr},
    };
    for (const Case &c : cases) {
        const std::string what =
            c.Name.substr(0, 40) + "... (" + std::to_string(c.Name.size()) + " bytes)";
        const fs::path archive = tmp.Path() / "p.zip";
        MakeRawZip(archive, {{"pkg/good.txt", "good"}, {c.Name, "data"}});
        const RunResult r = Kx({"x", "-y", archive.string(), dest.string()});
        if (!c.Reason) {
            EXPECT_EQ(r.Code, 0) << what << ": " << r.Output;
            EXPECT_EQ(ReadWholeFile(dest / c.Name), "data") << what;
        } else {
            EXPECT_EQ(r.Code, kFatal) << what << ": " << r.Output;
            EXPECT_NE(r.Output.find("refused entry"), std::string::npos)
                << what << ": " << r.Output;
            EXPECT_NE(r.Output.find(c.Reason), std::string::npos) << what << ": " << r.Output;
            EXPECT_FALSE(fs::exists(tmp.Path() / "new")) << what;
        }
        fs::remove_all(tmp.Path() / "new");
    }
}

// 1,200 folders under a low limit of open files: the unpack keeps its descriptors well below
// it.
TEST(KxRarHostile, ManyFoldersUnpackUnderALowOpenFileLimit)
{
    SKIP_FOR_WINDOWS("no limit of open files to lower (a POSIX resource limit)");
    const TempFolder tmp;
    for (int i = 0; i < 1200; ++i)
        tmp.Write("src/pkg/UpdateFiles/d" + std::to_string(i % 40) + "/e" + std::to_string(i) +
                      "/f.txt",
                  std::to_string(i));
    const fs::path archive = tmp.Path() / "p.zip";
    ASSERT_EQ(Kx({"a", "-y", "-pxr352", archive.string(), "pkg"}, tmp.Path() / "src").Code, 0);
    const fs::path dest = tmp.Path() / "dest";
    const std::string kx = ProgramFile().string();
    const RunResult r =
        RunProgram({"sh", "-c", "ulimit -n 64 && exec \"$0\" x -y -pxr352 \"$1\" \"$2\"", kx,
                    archive.string(), dest.string()});
    EXPECT_EQ(r.Code, 0) << r.Output;
    EXPECT_EQ(Tree(dest), Tree(tmp.Path() / "src"));
}

// ---------------------------------------------------------------------------------------
// a: making packages, and the command line

TEST(KxRarAdd, PathThatClimbsOutIsABadCommandLine)
{
    const TempFolder tmp;
    WriteSmallTree(tmp);
    const RunResult r = Kx({"a", "-y", "p.zip", "../src/pkg"}, tmp.Path() / "src");
    EXPECT_EQ(r.Code, kBadCommandLine) << r.Output;
    EXPECT_FALSE(fs::exists(tmp.Path() / "src/p.zip"));
}

TEST(KxRarAdd, FailureKeepsTheOldArchive)
{
    const TempFolder tmp;
    WriteSmallTree(tmp);
    const fs::path archive = tmp.Path() / "p.zip";
    ASSERT_EQ(Kx({"a", "-y", archive.string(), "pkg"}, tmp.Path() / "src").Code, 0);
    const std::string before = ReadWholeFile(archive);
    const RunResult r = Kx({"a", "-y", archive.string(), "pkg", "missing"}, tmp.Path() / "src");
    EXPECT_EQ(r.Code, kFatal) << r.Output;
    EXPECT_EQ(ReadWholeFile(archive), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.Path()), {}), 2);
}

// Names as long as the file system takes (255 bytes, or 255 UTF-16 units on Windows): the
// archive's own name and the names inside it, made and unpacked again.
TEST(KxRarAdd, NamesAsLongAsTheFileSystemTakes)
{
    const std::string longName = std::string(251, 'p') + ".zip";
    const std::string longFolder = std::string(255, 'd');
    const std::string longFile = std::string(251, 'f') + ".txt";
    struct Case {
        const char *What;
        bool InCurrentFolder; // the archive named without a folder
    };
    const Case cases[] = {{"archive in another folder", false},
                          {"archive in the current folder", true}};
    for (const Case &c : cases) {
        const TempFolder tmp;
        tmp.Write("src/" + longFolder + "/" + longFile, "long");
        tmp.Write("src/" + longFolder + "/UpdateSQL.sql", "select 3;");
        const fs::path archive = (c.InCurrentFolder ? tmp.Path() / "src" : tmp.Path()) / longName;
        const RunResult a =
            Kx({"a", "-y", "-pxr352", c.InCurrentFolder ? longName : archive.string(), longFolder},
               tmp.Path() / "src");
        ASSERT_EQ(a.Code, 0) << c.What << ": " << a.Output;
        const fs::path dest = tmp.Path() / "dest";
        const RunResult x = Kx({"x", "-y", "-pxr352", archive.string(), dest.string()});
        EXPECT_EQ(x.Code, 0) << c.What << ": " << x.Output;
        EXPECT_EQ(ReadWholeFile(dest / longFolder / longFile), "long") << c.What;
        // Nothing but the archive is left beside it.
        EXPECT_EQ(std::distance(fs::directory_iterator(archive.parent_path()), {}),
                  c.InCurrentFolder ? 2 : 3)
            << c.What;
    }
}

TEST(KxRarCommandLine, BadCommandLinesShowTheUsage)
{
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"q", "a.zip", "d"},
        {"X", "a.zip", "d"},
        {"x", "-y", "a.zip"},
        {"x", "-y", "a.zip", "d", "e"},
        {"x", "-y", "-p", "a.zip", "d"},
        {"x", "-k", "a.zip", "d"},
        {"x", "-zc.txt", "a.zip", "d"},
        {"cw", "-y", "a.zip"},
        {"cw", "-pxr352", "a.zip", "f"},
        {"cw", "-y", "a.zip", "f", "g"},
        {"a", "-y", "a.zip"},
        {"a", "-y", "-z", "a.zip", "p"},
        {"x", "-y", "", "d"},
    };
    const TempFolder tmp;
    for (size_t i = 0; i < cases.size(); ++i) {
        const RunResult r = Kx(cases[i], tmp.Path());
        EXPECT_EQ(r.Code, kBadCommandLine) << "case " << i << ": " << r.Output;
        EXPECT_NE(r.Output.find("Usage"), std::string::npos) << "case " << i;
        EXPECT_TRUE(fs::is_empty(tmp.Path())) << "case " << i;
    }
}

TEST(KxRarCommandLine, SwitchesAnywhereAndNamesAfterDoubleDash)
{
    const TempFolder tmp;
    const fs::path archive = tmp.Path() / "-p.zip";
    MakeRawZip(archive, {{"a.txt", "a"}}, "comment");
    const RunResult r = Kx({"cw", "--", "-p.zip", "-y.ini"}, tmp.Path());
    EXPECT_EQ(r.Code, 0) << r.Output;
    EXPECT_EQ(ReadWholeFile(tmp.Path() / "-y.ini"), "comment");
    const RunResult x = Kx({"x", archive.filename().string(), "-y", "out"}, tmp.Path());
    EXPECT_EQ(x.Code, kBadCommandLine) << "-p.zip is a password switch before \"--\"";
    const RunResult x2 = Kx(
        {
            "x",
            "--",
            "-p.zip",
            "out",
        },
        tmp.Path());
    EXPECT_EQ(x2.Code, 0) << x2.Output;
    EXPECT_EQ(ReadWholeFile(tmp.Path() / "out/a.txt"), "a");
}

// ---------------------------------------------------------------------------------------
// Windows' own dangers, against the Windows program under Wine

// A program started without waiting for it; its output goes nowhere.
pid_t StartProgram(const std::vector<std::string> &args)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        throw std::runtime_error("cannot start " + args[0]);
    return pid;
}

// Names that Windows would read otherwise than they are stored refuse the whole archive, with
// the reason, before anything is written; names close to them unpack.
TEST(KxRarWindows, NamesWindowsReadsOtherwiseAreRefusedBeforeWriting)
{
    ONLY_FOR_WINDOWS();
    struct Case {
        std::string Name;
        const char *Reason; // nullptr: unpacks
    };
    const Case cases[] = {
        {"pkg/data.txt:hidden", "\":\""},
        {"pkg/a:b/c.txt", "\":\""},
        {"pkg/CON", "Windows device (CON)"},
        {"pkg/con.txt", "Windows device (CON)"},
        {"pkg/sub/Lpt1.log", "Windows device (LPT1)"},
        {"pkg/aux .ini", "Windows device (AUX)"},
        {"NUL/a.txt", "Windows device (NUL)"},
        {"pkg/COM9.tar.bin", "Windows device (COM9)"},
        {"pkg/COM0", "Windows device (COM0)"},
        {"pkg/LPT0.log", "Windows device (LPT0)"},
        {"pkg/COM¹", "Windows device (COM¹)"},
        {"pkg/lpt³.txt", "Windows device (LPT³)"},
        {"pkg/Com² .log", "Windows device (COM²)"},
        {"pkg/CONIN$", "Windows device (CONIN$)"},
        {"pkg/conout$.txt", "Windows device (CONOUT$)"},
        {"pkg/CoNoUt$ .tar.bin", "Windows device (CONOUT$)"},
        {"pkg/prn. .", "Windows device (PRN)"},
        {"pkg/nul.txt/a.txt", "Windows device (NUL)"},
        {"pkg/name.", "ending in"},
        {"pkg/name ", "ending in"},
        {"pkg/folder./a.txt", "ending in"},
        {"pkg/a<b", "character Windows forbids"},
        {"pkg/a>b", "character Windows forbids"},
        {"pkg/a\"b", "character Windows forbids"},
        {"pkg/a|b", "character Windows forbids"},
        {"pkg/a?b", "character Windows forbids"},
        {"pkg/a*b", "character Windows forbids"},
        {"pkg/a\x01"
         "b",
         "character Windows forbids"},
        {"pkg/a\tb", "character Windows forbids"},
        {"pkg/CONSOLE.txt", nullptr},
        {"pkg/COM10", nullptr},
        {"pkg/COM⁴", nullptr},
        {"pkg/LPT¹0.txt", nullptr},
        {"pkg/CONIN", nullptr},
        {"pkg/CONOUT$$.txt", nullptr},
        {"pkg/LPT10.log", nullptr},
        {"pkg/nul-device.txt", nullptr},
        {"pkg/.hidden", nullptr},
        {"pkg/a.b.c", nullptr},
        {"pkg/ leading blank.txt", nullptr},
    };
    for (const Case &c : cases) {
        const TempFolder tmp;
        const fs::path archive = tmp.Path() / "p.zip";
        MakeRawZip(archive, {{"pkg/good.txt", "good"}, {c.Name, "data"}});
        const fs::path dest = tmp.Path() / "dest";
        const RunResult r = Kx({"x", "-y", archive.string(), dest.string()});
        if (!c.Reason) {
            EXPECT_EQ(r.Code, 0) << c.Name << ": " << r.Output;
            EXPECT_EQ(ReadWholeFile(dest / c.Name), "data") << c.Name;
            continue;
        }
        EXPECT_EQ(r.Code, kFatal) << c.Name << ": " << r.Output;
        EXPECT_NE(r.Output.find("refused entry"), std::string::npos) << c.Name << ": " << r.Output;
        EXPECT_NE(r.Output.find(c.Reason), std::string::npos) << c.Name << ": " << r.Output;
        EXPECT_FALSE(fs::exists(dest)) << c.Name;
    }
}

// Names without the UTF-8 flag are read as UTF-8 when they are valid UTF-8 (as Info-ZIP on
// Linux writes them), else as GB18030 (as package makers' Chinese Windows writes them).
TEST(KxRarWindows, NamesWithoutTheUtf8FlagReadAsUtf8OrGb18030)
{
    ONLY_FOR_WINDOWS();
    const TempFolder source;
    // Info-ZIP stores a name's bytes as they are, without the flag.
    source.Write("\xc9\xfd\xbc\xb6/\xd6\xd0\xce\xc4.txt", "gbk"); // 升级/中文.txt in GB18030
    source.Write("utf/名.txt", "utf8");
    const TempFolder tmp;
    const fs::path archive = tmp.Path() / "p.zip";
    const RunResult made = RunProgram({"zip", "-qr", archive.string(), "."}, source.Path());
    ASSERT_EQ(made.Code, 0) << made.Output;
    const fs::path dest = tmp.Path() / "dest";
    const RunResult r = Kx({"x", "-y", archive.string(), dest.string()});
    ASSERT_EQ(r.Code, 0) << r.Output;
    const std::map<std::string, std::optional<std::string>> expected = {{"升级", std::nullopt},
                                                                        {"升级/中文.txt", "gbk"},
                                                                        {"utf", std::nullopt},
                                                                        {"utf/名.txt", "utf8"}};
    EXPECT_EQ(Tree(dest), expected);
}

// Windows finds a file whatever the letter case of its name: two entries whose paths differ
// only in case are one file, the later one winning as with equal names; a file and a folder
// that differ only in case clash.
TEST(KxRarWindows, PathsDifferingInLetterCaseAreOnePath)
{
    ONLY_FOR_WINDOWS();
    const TempFolder tmp;
    const fs::path archive = tmp.Path() / "p.zip";
    MakeRawZip(archive,
               {{"pkg/Read.txt", "first"}, {"pkg/other.txt", "other"}, {"PKG/READ.TXT", "second"}});
    const fs::path dest = tmp.Path() / "dest";
    const RunResult r = Kx({"x", "-y", archive.string(), dest.string()});
    ASSERT_EQ(r.Code, 0) << r.Output;
    const auto tree = Tree(dest);
    ASSERT_EQ(tree.size(), 3u) << r.Output; // the folder, other.txt and one Read.txt
    std::vector<std::string> read;
    for (const auto &[path, content] : tree) {
        if (content && *content != "other")
            read.push_back(*content);
    }
    EXPECT_EQ(read, std::vector<std::string>{"second"});

    const fs::path clash = tmp.Path() / "clash.zip";
    MakeRawZip(clash, {{"pkg/Update", "a file"}, {"pkg/update/a.txt", "in a folder"}});
    const fs::path dest2 = tmp.Path() / "dest2";
    const RunResult c = Kx({"x", "-y", clash.string(), dest2.string()});
    EXPECT_EQ(c.Code, kFatal) << c.Output;
    EXPECT_NE(c.Output.find("a file where other entries need a folder"), std::string::npos)
        << c.Output;
    EXPECT_FALSE(fs::exists(dest2));
}

// Paths given the Windows way: "\" separates, and a drive letter is no part of the names.
TEST(KxRarWindows, AddTakesWindowsPaths)
{
    ONLY_FOR_WINDOWS();
    const TempFolder tmp;
    WriteSmallTree(tmp);
    const std::string onDriveZ = "Z:" + (tmp.Path() / "src/pkg/UpdateSQL.sql").string();
    const fs::path archive = tmp.Path() / "p.zip";
    const RunResult a =
        Kx({"a", "-y", archive.string(), "pkg\\UpdateFiles", onDriveZ}, tmp.Path() / "src");
    ASSERT_EQ(a.Code, 0) << a.Output;
    const RunResult list = RunProgram({"unzip", "-Z1", archive.string()});
    const std::string top = tmp.Path().relative_path().string(); // below Z:
    EXPECT_EQ(list.Output,
              "pkg/UpdateFiles/\npkg/UpdateFiles/a.txt\n" + top + "/src/pkg/UpdateSQL.sql\n");
}

// A junction in the target folder is a redirection like a symbolic link: never written
// through.
TEST(KxRarWindows, JunctionInTheTargetIsNotFollowed)
{
    ONLY_FOR_WINDOWS();
    const TempFolder tmp;
    const fs::path dest = tmp.Path() / "dest";
    const fs::path elsewhere = tmp.Path() / "elsewhere";
    fs::create_directories(dest / "pkg");
    fs::create_directories(elsewhere);
    // cmd reads "/tmp" as a switch: the paths as Windows spells them on Wine's drive Z:.
    const auto windowsPath = [](const fs::path &path) {
        std::string text = "Z:" + path.string();
        std::replace(text.begin(), text.end(), '/', '\\');
        return text;
    };
    std::vector<std::string> mklink = ProgramLine("cmd");
    mklink.insert(mklink.end(),
                  {"/c", "mklink", "/J", windowsPath(dest / "pkg/sub"), windowsPath(elsewhere)});
    const RunResult made = RunProgram(mklink);
    if (made.Code != 0 || !fs::exists(dest / "pkg/sub"))
        GTEST_SKIP() << "this Wine cannot make a junction (mklink /J: " << made.Output << ")";
    const fs::path archive = tmp.Path() / "p.zip";
    MakeRawZip(archive, {{"pkg/sub/a.txt", "a"}});
    const RunResult r = Kx({"x", "-y", archive.string(), dest.string()});
    EXPECT_EQ(r.Code, kCannotCreate) << r.Output;
    EXPECT_TRUE(fs::is_empty(elsewhere));
}

// A file that another program holds open without sharing cannot be replaced: the unpack
// names it, keeps it whole and leaves no temporary file.
TEST(KxRarWindows, FileInUseIsNamedAndKeptWhole)
{
    ONLY_FOR_WINDOWS();
    const fs::path holder = BinDir().parent_path() / "tests" / "file_holder.exe";
    ASSERT_TRUE(fs::exists(holder)) << holder;
    const TempFolder tmp;
    const fs::path dest = tmp.Path() / "dest";
    tmp.Write("dest/pkg/UpdateSQL.sql", "old");
    const fs::path archive = tmp.Path() / "p.zip";
    MakeRawZip(archive, {{"pkg/UpdateSQL.sql", "new"}});
    const fs::path ready = tmp.Path() / "ready", release = tmp.Path() / "release";
    std::vector<std::string> hold = ProgramLine(holder);
    hold.insert(hold.end(),
                {(dest / "pkg/UpdateSQL.sql").string(), ready.string(), release.string()});
    const pid_t pid = StartProgram(hold);
    for (int i = 0; i < 400 && !fs::exists(ready); ++i)
        usleep(50 * 1000);
    const bool held = fs::exists(ready);
    const RunResult r = held ? Kx({"x", "-y", archive.string(), dest.string()}) : RunResult{};
    tmp.Write("release", "");
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(held) << "the holder did not start";
    EXPECT_EQ(r.Code, kCannotCreate) << r.Output;
    EXPECT_NE(r.Output.find("pkg/UpdateSQL.sql"), std::string::npos) << r.Output;
    const std::map<std::string, std::optional<std::string>> expected = {
        {"pkg", std::nullopt}, {"pkg/UpdateSQL.sql", "old"}};
    EXPECT_EQ(Tree(dest), expected);
}

} // namespace

} // namespace kx_rar
