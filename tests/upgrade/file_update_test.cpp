// The file stage's table on the system's real file system, on both systems; the rows only one
// system has are in file_update_posix_test.cpp and file_update_win_test.cpp.

#include "upgrade/file_update.h"

#include "tests/support/file_stage_fixture.h"
#include "upgrade/file_transaction.h"
#include "upgrade/update_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace offline_upgrade {

namespace {

namespace fs = std::filesystem;

using FileUpdateTest = FileStageTest;

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
    fs::permissions(Source() / "sub", fs::perms(0555));
    temp.Write("product/a.txt", "old version of a");
    temp.Write("product/keep.cfg", "local settings");
    const std::string workingDir = files.GetCurrentDir();

    EXPECT_TRUE(RunStage());

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
    // The stage joins names with the system's separator, after one written in the path.
    const std::string sep(1, PathSeparator());
    struct Case {
        std::string path; // Product.Path as registered
        std::string root; // the same folder without a trailing separator
        std::string a, b; // where the two files are written
    };
    const Case cases[] = {
        {base + "1", base + "1", base + "1" + sep + "a.txt",
         base + "1" + sep + "sub" + sep + "b.txt"},
        {base + "2/", base + "2", base + "2/a.txt", base + "2/sub" + sep + "b.txt"},
        {base + "3/missing/parents", base + "3/missing/parents",
         base + "3/missing/parents" + sep + "a.txt",
         base + "3/missing/parents" + sep + "sub" + sep + "b.txt"},
        {base + "4/missing/", base + "4/missing", base + "4/missing/a.txt",
         base + "4/missing/sub" + sep + "b.txt"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        fs::create_directories(base + "1");
        fs::create_directories(base + "2");
        files.CopiedTo.clear();
        parts.Product.Path = cases[i].path;
        EXPECT_TRUE(RunStage()) << "case " << i;
        EXPECT_EQ(files.CopiedTo, (std::vector<std::string>{cases[i].a, cases[i].b}))
            << "case " << i;
        EXPECT_EQ(ReadWholeFile(cases[i].root + "/sub/b.txt"), "b") << "case " << i;
    }
}

TEST_F(FileUpdateTest, NothingToCopy)
{
    // No "UpdateFiles": nothing happens at all, not even the size walk.
    fs::create_directories(Source().parent_path());
    EXPECT_TRUE(RunStage());
    EXPECT_EQ(window.Calls, std::vector<std::string>{});
    EXPECT_EQ(files.Listed, std::vector<std::string>{});

    // An empty "UpdateFiles": the stage shows itself and copies nothing.
    fs::create_directories(Source());
    EXPECT_TRUE(RunStage());
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
        parts.Package.PackageName = names[i];
        EXPECT_TRUE(RunStage()) << "case " << i;
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
        parts.Product.Path = path;
        EXPECT_TRUE(RunStage()) << "'" << path << "'";
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
    EXPECT_TRUE(RunStage());
    // One call after the copy, naming each folder that received a file once.
    ASSERT_EQ(files.Flushed.size(), 1u);
    EXPECT_EQ(files.Flushed[0],
              (std::vector<std::string>{Target().string(), (Target() / "sub").string()}));

    // A flush that fails: the new files are not known safe, so the old ones come back.
    files.Flushed.clear();
    files.FailFlush = true;
    WriteSource("sub/c.txt", "c2");
    EXPECT_FALSE(RunStage());
    EXPECT_EQ(files.Flushed.size(), 1u);
    EXPECT_EQ(ReadWholeFile(Target() / "sub/c.txt"), "c");
    EXPECT_EQ(window.ProgressPosition(), 0);
    files.FailFlush = false;

    // Nothing written, nothing to flush.
    files.Flushed.clear();
    parts.Product.Path = "";
    EXPECT_TRUE(RunStage());
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
    ASSERT_NO_THROW(result = RunStage());
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
    // The package's folder as the stage names it.
    const std::string source = JoinPath(UnpackedPackageFolder(context), kUpdateFilesFolderName);
    const std::string target = Target().string();
    ExpectRefusedBeforeWriting({
        {"a folder where a file goes", [&] { fs::create_directories(Target() / "z.txt"); },
         Planned("z.txt")},
        {"a file where a folder goes", [&] { temp.Write("product/fresh", "a file"); },
         Planned("fresh")},
        {"a file above the target folder",
         [&] { parts.Product.Path = (Target() / "a.txt/inner").string(); }, Planned("a.txt")},
        {"a package folder that cannot be listed",
         [&] { files.FailListing = {JoinPath(source, "sub")}; }, JoinPath(source, "sub")},
        {"a file that may not be replaced", [&] { files.Refused = {Planned("a.txt")}; },
         Planned("a.txt")},
        {"a folder that may not receive files", [&] { files.Refused = {Planned("sub")}; },
         Planned("sub")},
        {"a missing target folder that may not be created",
         [&] {
             parts.Product.Path = (Target() / "new/deeper").string();
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
         FileJournalPath(context.ProgramFolder) + " of an earlier file stage is torn"},
        // Else the blocks would run, and then the journal could not be written.
        {"a folder where the journal goes", [&] { fs::create_directories(Journal()); },
         FileJournalPath(context.ProgramFolder) + " of an earlier file stage is a folder"},
        {"a journal kept aside earlier",
         [&] { temp.Write("prog/UpdateFiles.journal.rejected-3", "kept"); },
         "no upgrade runs from this program folder while " +
             FileJournalPath(context.ProgramFolder) + ".rejected-3"},
        {"a program folder the journal may not be written in",
         [&] { files.Refused = {context.ProgramFolder}; },
         "its journal " + FileJournalPath(context.ProgramFolder)},
    });
}

TEST_F(FileUpdateTest, EveryFailedOperationLeavesTheTargetAsItWas)
{
    for (const bool swaps : SwapModes()) {
        files.NoExchange = !swaps;
        files.Operations = 0;
        files.OperationNames.clear();
        // A run that succeeds: its operations, and the tree it leaves.
        MakeWorld();
        ASSERT_TRUE(RunStage());
        const auto after = SnapshotTree(Target(), false);
        const std::vector<std::string> names = files.OperationNames;
        const int total = files.Operations;
        // The last one before the journal says the new files are in place: up to it, a failure
        // puts everything back; after it only backups are left to remove.
        const int committed = static_cast<int>(
            std::find(names.rbegin(), names.rend(), "WriteFileDurably").base() - names.begin());
        for (const char *name :
             {"CreateFolder", "CopyFileBeside", "RenameFile", "FlushFileSystems"})
            EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
        // Both replaced files swapped; or the swap asked for once and refused; or, where the
        // system tells no files apart, never asked for.
        const long swapCalls = swaps ? 2 : SwapModes().size() > 1 ? 1 : 0;
        EXPECT_EQ(std::count(names.begin(), names.end(), "ExchangeFiles"), swapCalls);
        EXPECT_TRUE(StageLeftovers(Target()).empty());
        EXPECT_FALSE(fs::exists(Journal()));

        for (int n = 1; n <= total; ++n) {
            const std::string where = "operation " + std::to_string(n) + " (" + names[n - 1] +
                                      (swaps ? ", swapping)" : ", renaming)");
            MakeWorld();
            const auto before = SnapshotTree(Target());
            files.Operations = 0;
            files.OperationNames.clear();
            files.FailOperationAt = n;

            const bool result = RunStage();

            files.FailOperationAt = 0;
            if (n <= committed) {
                EXPECT_FALSE(result) << where;
                EXPECT_EQ(SnapshotTree(Target()), before) << where;
                EXPECT_FALSE(fs::exists(Journal())) << where;
            } else {
                // A backup or the journal that could not be removed: the next start finishes.
                EXPECT_TRUE(result) << where;
                EXPECT_TRUE(RecoverFileStage(system, context.ProgramFolder, Registered())) << where;
                EXPECT_EQ(SnapshotTree(Target(), false), after) << where;
                EXPECT_FALSE(fs::exists(Journal())) << where;
            }
            EXPECT_EQ(window.ProgressPosition(), 0) << where;
        }
    }
}

TEST_F(FileUpdateTest, CutShortAtEveryOperationIsFinishedAtTheNextStart)
{
    for (const bool swaps : SwapModes()) {
        files.NoExchange = !swaps;
        files.Operations = 0;
        MakeWorld();
        ASSERT_TRUE(RunStage());
        const auto after = SnapshotTree(Target(), false);
        const int total = files.Operations;

        int halfDone = 0; // cuts that left old and new files side by side
        for (int n = 1; n <= total; ++n) {
            const std::string where =
                "operation " + std::to_string(n) + (swaps ? ", swapping" : ", renaming");
            MakeWorld();
            const auto before = SnapshotTree(Target());
            const auto beforeVisible = SnapshotTree(Target(), false);
            files.Operations = 0;
            files.CrashAt = n; // from here on the process does nothing more, as if it had died
            (void)RunStage();
            files.CrashAt = 0;
            // What a user sees of the product between the cut and the next start.
            auto visible = SnapshotTree(Target(), false);
            for (const auto &[name, description] : StageLeftovers(Target()))
                visible.erase(name);
            if (visible != beforeVisible && visible != after)
                ++halfDone;
            FileTransaction journal;
            const bool committed =
                ParseJournal(ReadWholeFile(Journal()), journal) && journal.Committed;

            // The next start.
            EXPECT_TRUE(RecoverFileStage(system, context.ProgramFolder, Registered())) << where;

            if (committed)
                EXPECT_EQ(SnapshotTree(Target(), false), after) << where;
            else
                EXPECT_EQ(SnapshotTree(Target()), before) << where;
            EXPECT_TRUE(StageLeftovers(Target()).empty()) << where;
            EXPECT_FALSE(fs::exists(Journal())) << where;
        }
        EXPECT_GT(halfDone, 0) << swaps;
    }
}

TEST_F(FileUpdateTest, ReplacedFileThatCannotBeRemovedIsKeptAndNamedAtTheNextStart)
{
    // The stage succeeds, but the replaced a.txt stays where it was set aside (on Windows: a
    // program that still runs). The log says so, and the next start says what it found.
    MakeWorld();
    files.FailOperationAt = 0;
    files.BeforeOperation = [&](int number, const std::string &name) {
        if (name == "RemoveFiles")
            files.FailOperationAt = number;
    };
    LogRecorder log;
    ASSERT_TRUE(RunStage()) << log.Text();
    files.BeforeOperation = nullptr;
    files.FailOperationAt = 0;
    EXPECT_TRUE(log.Holds("the replaced file " + Planned("a.txt") + " is kept as ")) << log.Text();
    ASSERT_EQ(StageLeftovers(Target()).size(), 2u); // a.txt's and sub/b.txt's backups
    fs::remove(fs::path(Target()) / StageLeftovers(Target()).begin()->first);

    LogRecorder next;
    EXPECT_TRUE(RecoverFileStage(system, context.ProgramFolder, Registered()));
    EXPECT_TRUE(next.Holds("put its 4 files in place and left 1 kept files")) << next.Text();
    EXPECT_FALSE(next.Holds("cut short")) << next.Text();
    EXPECT_TRUE(StageLeftovers(Target()).empty());
    EXPECT_FALSE(fs::exists(Journal()));
}

TEST_F(FileUpdateTest, TheKeptFilesGoOnlyOnceTheResultIsOut)
{
    // The stage returns as soon as the new files are on stable storage; the replaced ones and
    // the journal stay until the run says it is done with the result, or until the next start.
    for (const bool finished : {true, false}) {
        MakeWorld();
        ASSERT_TRUE(CopyUpdateFiles(context));
        EXPECT_EQ(ReadWholeFile(Target() / "a.txt"), "new a");
        EXPECT_EQ(StageLeftovers(Target()).size(), 2u); // a.txt's and sub/b.txt's backups
        FileTransaction journal;
        EXPECT_TRUE(ParseJournal(ReadWholeFile(Journal()), journal) && journal.Committed);
        LogRecorder log;
        if (finished)
            FinishUpgrade(context);
        else
            EXPECT_TRUE(RecoverFileStage(system, context.ProgramFolder, Registered()));
        EXPECT_TRUE(StageLeftovers(Target()).empty()) << finished;
        EXPECT_FALSE(fs::exists(Journal())) << finished;
        EXPECT_EQ(ReadWholeFile(Target() / "a.txt"), "new a");
        // The second time there is nothing left to do.
        context.AfterResult = nullptr;
        FinishUpgrade(context);
    }
}

} // namespace

} // namespace offline_upgrade
