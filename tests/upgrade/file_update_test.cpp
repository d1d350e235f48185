#include "upgrade/file_update.h"

#include "platform/data_access.h"
#include "platform/diagnostics.h"
#include "platform/error.h"
#include "platform/posix/file_system_posix.h"
#include "platform/process.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/no_processes.h"
#include "tests/support/recording_window.h"
#include "tests/support/temp_folder.h"
#include "tests/support/tree_snapshot.h"
#include "upgrade/file_transaction.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The file stage never reaches the database or starts a process.
class UnusedConnection : public IConnection {
public:
    void SetConnectionString(const std::string &) override { ADD_FAILURE(); }
    std::string ConnectionString() const override { return {}; }
    bool Connected() const override { return false; }
    void Open() override { ADD_FAILURE(); }
    void Close() override {}
};
class UnusedQuery : public IQuery {
public:
    void Close() override {}
    void SetSQL(const std::string &) override { ADD_FAILURE(); }
    void Open() override { ADD_FAILURE(); }
    std::string FirstFieldText() override { return {}; }
};
class UnusedCommand : public ICommand {
public:
    void SetCommandText(const std::string &) override { ADD_FAILURE(); }
    void Execute() override { ADD_FAILURE(); }
};
const std::string kStageStep = "正在更新文件...";

// Keeps the log lines while it lives.
class LogRecorder : public ILogSink {
public:
    LogRecorder() { SetLogSink(this); }
    ~LogRecorder() override { SetLogSink(nullptr); }
    void Write(LogLevel, std::string_view line) override { Lines.emplace_back(line); }
    // The lines, one per row, for a failure message.
    std::string Text() const
    {
        std::string text;
        for (const std::string &line : Lines)
            text += line + "\n";
        return text;
    }
    std::vector<std::string> Lines;
};

std::string FileStep(const std::string &name)
{
    return "正在更新文件" + name + "...";
}

class FileUpdateTest : public ::testing::Test {
protected:
    FileUpdateTest()
    {
        package.PackageName = "pkg-2.1.zip";
        product.Path = Target().string();
    }

    fs::path Source() const { return temp.Path() / "prog/TempUpdate/pkg-2.1/UpdateFiles"; }
    fs::path Target() const { return temp.Path() / "product"; }
    fs::path WriteSource(const std::string &relative, const std::string &bytes) const
    {
        return temp.Write("prog/TempUpdate/pkg-2.1/UpdateFiles/" + relative, bytes);
    }

    // A package tree and a product folder that ask for every kind of step: a replaced file
    // with bits of its own, a file replaced in a subfolder beside one left alone, a new folder
    // with a new subfolder, a new file. Times are set in the past, so that any change shows.
    void MakeWorld()
    {
        fs::remove_all(temp.Path() / "prog");
        fs::remove_all(Target());
        product.Path = Target().string();
        WriteSource("a.txt", "new a");
        WriteSource("sub/b.txt", "new b");
        WriteSource("fresh/deep/c.txt", "new c");
        WriteSource("z.txt", "new z");
        temp.Write("product/a.txt", "old a");
        temp.Write("product/sub/b.txt", "old b");
        temp.Write("product/sub/keep.txt", "keep");
        ASSERT_EQ(::chmod((Target() / "a.txt").c_str(), 0640), 0);
        const fs::file_time_type past(std::chrono::hours(400000));
        for (const char *name : {"a.txt", "sub/b.txt", "sub/keep.txt", "sub", ""})
            fs::last_write_time(Target() / name, past);
        for (const char *name : {"a.txt", "sub/b.txt", "fresh/deep/c.txt", "z.txt"})
            fs::last_write_time(Source() / name, past - std::chrono::hours(1));
    }
    fs::path Journal() const { return temp.Path() / "prog/UpdateFiles.journal"; }
    // The product as registered, for the next start's recovery.
    RegisteredFolder Registered() const
    {
        return [this](const std::string &) { return std::optional<std::string>(product.Path); };
    }

    TempFolder temp;
    PosixFileSystem posix;
    FaultyFileSystem files{posix};
    RecordingWindow window;
    T_PackageInfo package;
    T_ProductReg product;
    std::string computerName = "host";
    std::string localIP = "127.0.0.1";
    UnusedConnection connection;
    UnusedQuery query;
    UnusedCommand command;
    NoProcesses processes;
    UpgradeContext context{temp.Slashed() + "prog/",
                           package,
                           product,
                           computerName,
                           localIP,
                           connection,
                           query,
                           command,
                           window,
                           files,
                           processes};
};

TEST_F(FileUpdateTest, NestedTreeWithHiddenAndReadOnlyEntries)
{
    WriteSource("a.txt", std::string(10, 'a'));
    WriteSource(".hidden", std::string(7, 'h'));
    WriteSource("sub/b.bin", std::string(200, 'b'));
    WriteSource("sub/deeper/c", std::string(3000, 'c'));
    WriteSource("sub/.hdir/x", "x");
    WriteSource("sub/.hdir/zero", "");
    fs::create_directories(Source() / "empty");
    // A read-only or hidden folder is still a folder: its content must reach the target.
    ASSERT_EQ(::chmod((Source() / "sub").c_str(), 0555), 0);
    temp.Write("product/a.txt", "old version of a");
    temp.Write("product/keep.cfg", "local settings");
    const std::string workingDir = files.GetCurrentDir();

    EXPECT_TRUE(CopyUpdateFiles(context));

    for (const char *name :
         {"a.txt", ".hidden", "sub/b.bin", "sub/deeper/c", "sub/.hdir/x", "sub/.hdir/zero"}) {
        EXPECT_TRUE(fs::is_regular_file(Target() / name)) << name;
        EXPECT_EQ(ReadWholeFile(Target() / name), ReadWholeFile(Source() / name)) << name;
    }
    EXPECT_TRUE(fs::is_directory(Target() / "empty"));
    EXPECT_EQ(ReadWholeFile(Target() / "keep.cfg"), "local settings");
    EXPECT_EQ(files.GetCurrentDir(), workingDir);

    // Listing order: ".hidden", "a.txt", "empty", "sub" (".hdir", "b.bin", "deeper").
    // clang-format off
    const std::vector<std::string> expected = {
        "step:" + kStageStep, "max:3218", "pos:0",
        "step:" + FileStep(".hidden"), "repaint", "pos:7", "repaint",
        "step:" + FileStep("a.txt"), "repaint", "pos:17", "repaint",
        "step:" + FileStep("x"), "repaint", "pos:18", "repaint",
        "step:" + FileStep("zero"), "repaint", "repaint",
        "step:" + FileStep("b.bin"), "repaint", "pos:218", "repaint",
        "step:" + FileStep("c"), "repaint", "pos:3218", "repaint",
        "pos:0",
    };
    // clang-format on
    EXPECT_EQ(window.Calls, expected);
}

TEST_F(FileUpdateTest, TargetPathForms)
{
    WriteSource("a.txt", "a");
    WriteSource("sub/b.txt", "b");
    const std::string base = Target().string();
    struct Case {
        std::string path; // Product.Path as registered
        std::string root; // the same folder without a trailing separator
    };
    const Case cases[] = {
        {base + "1", base + "1"},
        {base + "2/", base + "2"},
        {base + "3/missing/parents", base + "3/missing/parents"},
        {base + "4/missing/", base + "4/missing"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        fs::create_directories(base + "1");
        fs::create_directories(base + "2");
        files.CopiedTo.clear();
        product.Path = cases[i].path;
        EXPECT_TRUE(CopyUpdateFiles(context)) << "case " << i;
        const std::vector<std::string> dests = {cases[i].root + "/a.txt",
                                                cases[i].root + "/sub/b.txt"};
        EXPECT_EQ(files.CopiedTo, dests) << "case " << i;
        EXPECT_EQ(ReadWholeFile(cases[i].root + "/sub/b.txt"), "b") << "case " << i;
    }
}

TEST_F(FileUpdateTest, NothingToCopy)
{
    // No "UpdateFiles": nothing happens at all, not even the size walk.
    fs::create_directories(Source().parent_path());
    EXPECT_TRUE(CopyUpdateFiles(context));
    EXPECT_EQ(window.Calls, std::vector<std::string>{});
    EXPECT_EQ(files.Listed, std::vector<std::string>{});

    // An empty "UpdateFiles": the stage shows itself and copies nothing.
    fs::create_directories(Source());
    EXPECT_TRUE(CopyUpdateFiles(context));
    EXPECT_EQ(window.Calls,
              (std::vector<std::string>{"step:" + kStageStep, "max:0", "pos:0", "pos:0"}));
    EXPECT_EQ(files.CopiedTo, std::vector<std::string>{});
}

TEST_F(FileUpdateTest, NameWithoutAFolderOfItsOwnCopiesNothing)
{
    // Trees the work folder and the program folder hold must not pass for the package's.
    temp.Write("prog/TempUpdate/UpdateFiles/a.txt", "work folder");
    temp.Write("prog/UpdateFiles/a.txt", "program folder");
    const char *names[] = {".zip", "x", "..zip", "...zip"};
    for (size_t i = 0; i < std::size(names); ++i) {
        package.PackageName = names[i];
        EXPECT_TRUE(CopyUpdateFiles(context)) << "case " << i;
    }
    EXPECT_EQ(window.Calls, std::vector<std::string>{});
    EXPECT_EQ(files.Listed, std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(Target()));
}

TEST_F(FileUpdateTest, BlankTargetCopiesNothing)
{
    WriteSource("a.txt", "12345");
    for (const char *path : {"", " \t\r\n"}) {
        window.Calls.clear();
        product.Path = path;
        EXPECT_TRUE(CopyUpdateFiles(context)) << "'" << path << "'";
        EXPECT_EQ(window.Calls, (std::vector<std::string>{"step:" + kStageStep, "max:5", "pos:0"}))
            << "'" << path << "'";
    }
    EXPECT_EQ(files.CopiedTo, std::vector<std::string>{});
}

TEST_F(FileUpdateTest, WrittenFoldersAreFlushedOnceAtTheEnd)
{
    WriteSource("a.txt", "a");
    WriteSource("b.txt", "b");
    WriteSource("sub/c.txt", "c");
    fs::create_directories(Source() / "empty");
    EXPECT_TRUE(CopyUpdateFiles(context));
    // One call after the copy, naming each folder that received a file once.
    ASSERT_EQ(files.Flushed.size(), 1u);
    EXPECT_EQ(files.Flushed[0], (std::vector<std::string>{Target().string(),
                                                           (Target() / "sub").string()}));

    // A flush that fails: the new files are not known safe, so the old ones come back.
    files.Flushed.clear();
    files.FailFlush = true;
    WriteSource("sub/c.txt", "c2");
    EXPECT_FALSE(CopyUpdateFiles(context));
    EXPECT_EQ(files.Flushed.size(), 1u);
    EXPECT_EQ(ReadWholeFile(Target() / "sub/c.txt"), "c");
    EXPECT_EQ(window.ProgressPosition(), 0);
    files.FailFlush = false;

    // Nothing written, nothing to flush.
    files.Flushed.clear();
    product.Path = "";
    EXPECT_TRUE(CopyUpdateFiles(context));
    EXPECT_TRUE(files.Flushed.empty());
}

TEST_F(FileUpdateTest, HugeTreeCountsInACoarserUnit)
{
    WriteSource("a.bin", "a");
    WriteSource("sub/b.bin", "b");
    WriteSource("sub/c.bin", "c");
    // Each file claims 3 GiB, so the total (9 GiB) is far beyond the bar's int range.
    const uint64_t claimed = uint64_t{3} << 30;
    files.EditListing = [&](const std::string &, std::vector<FolderEntry> &entries) {
        for (FolderEntry &entry : entries)
            if (!(entry.Attributes & kAttrDirectory))
                entry.Size = claimed;
    };

    EXPECT_EQ(GetFolderSize(context, Source().string()), 3 * claimed);
    bool result = false;
    ASSERT_NO_THROW(result = CopyUpdateFiles(context));
    EXPECT_TRUE(result);

    const int maximum = window.ProgressMax();
    EXPECT_GT(maximum, INT_MAX / 2); // the finest unit that fits
    // Positions: 0 at the start, one per file, 0 at the end; they grow with the bytes.
    ASSERT_EQ(window.Positions.size(), 5u);
    EXPECT_EQ(window.Positions[1], maximum / 3);
    EXPECT_EQ(window.Positions[2], 2 * (maximum / 3));
    EXPECT_EQ(window.Positions[3], maximum);
    EXPECT_EQ(window.Positions[4], 0);
    EXPECT_EQ(ReadWholeFile(Target() / "sub/c.bin"), "c");
}

TEST_F(FileUpdateTest, ChecksRefuseBeforeAnythingIsWritten)
{
    const std::string source = Source().string();
    const std::string target = Target().string();
    struct Case {
        const char *what;
        std::function<void()> arrange;
        std::string logged; // a part of the logged check: the path it failed on
    };
    const Case cases[] = {
        {"a folder where a file goes", [&] { fs::create_directories(Target() / "z.txt"); },
         target + "/z.txt"},
        {"a file where a folder goes", [&] { temp.Write("product/fresh", "a file"); },
         target + "/fresh"},
        {"a file above the target folder",
         [&] { product.Path = (Target() / "a.txt/inner").string(); }, target + "/a.txt"},
        {"a package folder that cannot be listed", [&] { files.FailListing = {source + "/sub"}; },
         source + "/sub"},
        {"a package entry that is no plain file",
         [&] { ASSERT_EQ(::mkfifo((Source() / "pipe").c_str(), 0644), 0); }, source + "/pipe"},
        {"a file that may not be replaced", [&] { files.Refused = {target + "/a.txt"}; },
         target + "/a.txt"},
        {"a folder that may not receive files", [&] { files.Refused = {target + "/sub"}; },
         target + "/sub"},
        {"a missing target folder that may not be created",
         [&] {
             product.Path = (Target() / "new/deeper").string();
             files.Refused = {target};
         },
         target},
        {"too little space",
         [&] {
             files.EditSpace = [](const std::string &, FileSystemSpace &space) {
                 space.Available = 6 * 4096 - 1; // four files, two new folders
             };
         },
         "24575 bytes free"},
        {"an earlier stage whose journal cannot be read",
         [&] { temp.Write("prog/UpdateFiles.journal", "not a journal"); },
         Journal().string() + " of an earlier file stage is torn"},
        // Else the blocks would run, and then the journal could not be written.
        {"a folder where the journal goes",
         [&] { fs::create_directories(Journal()); }, Journal().string() + " of an earlier file stage is a folder"},
        {"a journal kept aside earlier",
         [&] { temp.Write("prog/UpdateFiles.journal.rejected-3", "kept"); },
         "no upgrade runs from this program folder while " + Journal().string() + ".rejected-3"},
        {"a program folder the journal may not be written in",
         [&] { files.Refused = {context.ProgramFolder}; }, "its journal " + Journal().string()},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const std::string where =
            std::string("case ") + std::to_string(i) + " (" + cases[i].what + ")";
        MakeWorld();
        files.FailListing.clear();
        files.Refused.clear();
        files.EditSpace = nullptr;
        // The world as it is passes.
        EXPECT_TRUE(CheckUpdateFiles(context)) << where;
        cases[i].arrange();
        const auto before = SnapshotTree(temp.Path() / "product");
        LogRecorder log;

        EXPECT_FALSE(CheckUpdateFiles(context)) << where;
        EXPECT_NE(log.Text().find(cases[i].logged), std::string::npos) << where << "\n"
                                                                       << log.Text();
        EXPECT_FALSE(CopyUpdateFiles(context)) << where;

        EXPECT_EQ(SnapshotTree(temp.Path() / "product"), before) << where;
        EXPECT_EQ(window.StepText(), kStageStep) << where; // no file was begun
        EXPECT_EQ(window.ProgressPosition(), 0) << where;
        for (const std::string &kept : KeptAsideJournals(posix, context.ProgramFolder))
            fs::remove_all(kept);
        fs::remove_all(Journal());
    }
}

TEST_F(FileUpdateTest, EveryFailedOperationLeavesTheTargetAsItWas)
{
    // A run that succeeds: its operations, and the tree it leaves.
    MakeWorld();
    ASSERT_TRUE(CopyUpdateFiles(context));
    const auto after = SnapshotTree(Target(), false);
    const std::vector<std::string> names = files.OperationNames;
    const int total = files.Operations;
    // The last one before the journal says the new files are in place: up to it, a failure
    // puts everything back; after it only backups are left to remove.
    const int committed = static_cast<int>(
        std::find(names.rbegin(), names.rend(), "WriteFileDurably").base() - names.begin());
    for (const char *name : {"CreateFolder", "CopyFileBeside", "RenameFile", "FlushFileSystems"})
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
    EXPECT_TRUE(StageLeftovers(Target()).empty());
    EXPECT_FALSE(fs::exists(Journal()));

    for (int n = 1; n <= total; ++n) {
        const std::string where = "operation " + std::to_string(n) + " (" + names[n - 1] + ")";
        MakeWorld();
        const auto before = SnapshotTree(Target());
        files.Operations = 0;
        files.OperationNames.clear();
        files.FailOperationAt = n;

        const bool result = CopyUpdateFiles(context);

        files.FailOperationAt = 0;
        if (n <= committed) {
            EXPECT_FALSE(result) << where;
            EXPECT_EQ(SnapshotTree(Target()), before) << where;
            EXPECT_FALSE(fs::exists(Journal())) << where;
        } else {
            // A backup or the journal that could not be removed: the next start finishes.
            EXPECT_TRUE(result) << where;
            EXPECT_TRUE(RecoverFileStage(posix, context.ProgramFolder, Registered())) << where;
            EXPECT_EQ(SnapshotTree(Target(), false), after) << where;
            EXPECT_FALSE(fs::exists(Journal())) << where;
        }
        EXPECT_EQ(window.ProgressPosition(), 0) << where;
    }
}

TEST_F(FileUpdateTest, CutShortAtEveryOperationIsFinishedAtTheNextStart)
{
    MakeWorld();
    ASSERT_TRUE(CopyUpdateFiles(context));
    const auto after = SnapshotTree(Target(), false);
    const int total = files.Operations;

    int halfDone = 0; // cuts that left old and new files side by side
    for (int n = 1; n <= total; ++n) {
        const std::string where = "operation " + std::to_string(n);
        MakeWorld();
        const auto before = SnapshotTree(Target());
        const auto beforeVisible = SnapshotTree(Target(), false);
        files.Operations = 0;
        files.CrashAt = n; // from here on the process does nothing more, as if it had died
        (void)CopyUpdateFiles(context);
        files.CrashAt = 0;
        // What a user sees of the product between the cut and the next start.
        auto visible = SnapshotTree(Target(), false);
        for (const auto &[name, description] : StageLeftovers(Target()))
            visible.erase(name);
        if (visible != beforeVisible && visible != after)
            ++halfDone;
        FileTransaction journal;
        const bool committed = ParseJournal(ReadWholeFile(Journal()), journal) && journal.Committed;

        // The next start.
        EXPECT_TRUE(RecoverFileStage(posix, context.ProgramFolder, Registered())) << where;

        if (committed)
            EXPECT_EQ(SnapshotTree(Target(), false), after) << where;
        else
            EXPECT_EQ(SnapshotTree(Target()), before) << where;
        EXPECT_TRUE(StageLeftovers(Target()).empty()) << where;
        EXPECT_FALSE(fs::exists(Journal())) << where;
    }
    EXPECT_GT(halfDone, 0);
}

TEST_F(FileUpdateTest, ProcessKilledAmidTheRenamesIsRestoredAtTheNextStart)
{
    MakeWorld();
    const auto before = SnapshotTree(Target());
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The stage, stopped at its third rename (a.txt is aside, its new copy not yet in
        // place) until the parent ends the process.
        ::close(ready[0]);
        int renames = 0;
        files.BeforeOperation = [&](int, const std::string &name) {
            if (name == "RenameFile" && ++renames == 3) {
                (void)!::write(ready[1], "r", 1);
                for (;;)
                    ::pause();
            }
        };
        (void)CopyUpdateFiles(context);
        ::_exit(0);
    }
    ::close(ready[1]);
    char byte = 0;
    const bool reached = ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(reached) << "the child ended before its renames";
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_TRUE(fs::exists(Journal()));
    EXPECT_NE(SnapshotTree(Target()), before); // the product is half done

    EXPECT_TRUE(RecoverFileStage(posix, context.ProgramFolder, Registered()));

    EXPECT_EQ(SnapshotTree(Target()), before);
    EXPECT_FALSE(fs::exists(Journal()));
}

} // namespace
