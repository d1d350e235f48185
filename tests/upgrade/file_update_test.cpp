#include "upgrade/file_update.h"

#include "platform/data_access.h"
#include "platform/error.h"
#include "platform/posix/file_system_posix.h"
#include "platform/process.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/no_processes.h"
#include "tests/support/recording_window.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <climits>
#include <filesystem>
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

TEST_F(FileUpdateTest, TargetThatCannotBeReplacedFailsTheStageAfterTheRest)
{
    WriteSource("a.txt", "new a");
    WriteSource("b.txt", "new b");
    WriteSource("c.txt", "new c");
    // A folder where the file goes is never replaced.
    fs::create_directories(Target() / "b.txt");

    EXPECT_FALSE(CopyUpdateFiles(context));

    EXPECT_EQ(ReadWholeFile(Target() / "a.txt"), "new a");
    EXPECT_TRUE(fs::is_directory(Target() / "b.txt"));
    EXPECT_EQ(ReadWholeFile(Target() / "c.txt"), "new c");
    // The bar still runs to its end, then back to 0.
    ASSERT_GE(window.Positions.size(), 2u);
    EXPECT_EQ(window.Positions[window.Positions.size() - 2], 15);
    EXPECT_EQ(window.ProgressPosition(), 0);
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

    // A flush that fails: the files are there, but not known safe, so the stage fails.
    files.Flushed.clear();
    files.FailFlush = true;
    EXPECT_FALSE(CopyUpdateFiles(context));
    EXPECT_EQ(files.Flushed.size(), 1u);
    EXPECT_EQ(ReadWholeFile(Target() / "sub/c.txt"), "c");
    EXPECT_EQ(window.ProgressPosition(), 0);

    // Nothing written, nothing to flush.
    files.Flushed.clear();
    product.Path = "";
    EXPECT_TRUE(CopyUpdateFiles(context));
    EXPECT_TRUE(files.Flushed.empty());
}

TEST_F(FileUpdateTest, InjectedFaultsFailTheStageAfterTheRest)
{
    WriteSource("a.txt", "a");
    WriteSource("sub/b.txt", "b");
    WriteSource("z.txt", "z");
    const std::string source = Source().string();
    const std::string target = Target().string();
    struct Case {
        int failCopyAt;
        bool throws;
        std::string failListing;
        std::string failCreate;
        std::vector<std::string> copied; // files that must have arrived
    };
    const Case cases[] = {
        {1, false, "", "", {"sub/b.txt", "z.txt"}},
        {2, true, "", "", {"a.txt", "z.txt"}},
        {0, false, source + "/sub", "", {"a.txt", "z.txt"}},
        {0, false, "", target + "/sub", {"a.txt", "z.txt"}},
        {0, false, source, "", {}},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        fs::remove_all(Target());
        files.CopiedTo.clear();
        files.FailCopyAt = cases[i].failCopyAt;
        files.ThrowOnFailedCopy = cases[i].throws;
        files.FailListing = {cases[i].failListing};
        files.FailCreate = {cases[i].failCreate};

        bool result = true;
        EXPECT_NO_THROW(result = CopyUpdateFiles(context)) << "case " << i;
        EXPECT_FALSE(result) << "case " << i;
        for (const std::string &name : cases[i].copied)
            EXPECT_EQ(ReadWholeFile(Target() / name), ReadWholeFile(Source() / name))
                << "case " << i << " " << name;
        EXPECT_EQ(window.ProgressPosition(), 0) << "case " << i;
    }
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

} // namespace
