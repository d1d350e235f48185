#pragma once
// The file stage's world for its tables on both systems: an unpacked package's "UpdateFiles"
// below a program folder and a product folder in a temporary folder, on the system's real file
// system behind a FaultyFileSystem, and the check that a refused stage wrote nothing.

#include "platform/path_text.h"
#include "real_services.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/log_recorder.h"
#include "tests/support/temp_folder.h"
#include "tests/support/tree_snapshot.h"
#include "tests/support/upgrade_parts.h"
#include "upgrade/file_transaction.h"
#include "upgrade/file_update.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace offline_upgrade {

inline const std::string kStageStep = "正在更新文件...";

inline std::string FileStep(const std::string &name)
{
    return "正在更新文件" + name + "...";
}

class FileStageTest : public ::testing::Test {
protected:
    using Path = std::filesystem::path;

    FileStageTest()
    {
        parts.Package.PackageName = "pkg-2.1.zip";
        parts.Product.Path = Target().string();
    }

    Path Source() const { return temp.Path() / "prog/TempUpdate/pkg-2.1/UpdateFiles"; }
    Path Target() const { return temp.Path() / "product"; }
    Path Journal() const { return temp.Path() / "prog/UpdateFiles.journal"; }
    // The product as registered, for the next start's recovery.
    RegisteredFolder Registered() const
    {
        return
            [this](const std::string &) { return std::optional<std::string>(parts.Product.Path); };
    }
    Path WriteSource(const std::string &relative, const std::string &bytes) const
    {
        return temp.Write("prog/TempUpdate/pkg-2.1/UpdateFiles/" + relative, bytes);
    }
    // A path below the product folder as the stage writes it, with the system's separator.
    std::string Planned(const std::string &relative) const
    {
        return JoinPath(Target().string(), relative);
    }

    // A package tree and a product folder that ask for every kind of step: a replaced file
    // with bits of its own, a file replaced in a subfolder beside one left alone, a new folder
    // with a new subfolder, a new file. Times are set in the past, so that any change shows.
    void MakeWorld()
    {
        namespace fs = std::filesystem;
        // A read-only file of an earlier case must not stop the removal (Windows).
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(Target(), ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
            fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ec);
        fs::remove_all(temp.Path() / "prog");
        fs::remove_all(Target());
        parts.Product.Path = Target().string();
        WriteSource("a.txt", "new a");
        WriteSource("sub/b.txt", "new b");
        WriteSource("fresh/deep/c.txt", "new c");
        WriteSource("z.txt", "new z");
        temp.Write("product/a.txt", "old a");
        temp.Write("product/sub/b.txt", "old b");
        temp.Write("product/sub/keep.txt", "keep");
        fs::permissions(Target() / "a.txt", fs::perms(0640));
        // Through the system's own call: std::filesystem cannot set a folder's time on Windows.
        const int64_t past = int64_t{978307200} * 1000000000; // 2001-01-01
        const int64_t hour = int64_t{3600} * 1000000000;
        for (const char *name : {"a.txt", "sub/b.txt", "sub/keep.txt", "sub", ""})
            ASSERT_TRUE(system.SetModifiedTime((Target() / name).string(), past)) << name;
        for (const char *name : {"a.txt", "sub/b.txt", "fresh/deep/c.txt", "z.txt"})
            ASSERT_TRUE(system.SetModifiedTime((Source() / name).string(), past - hour)) << name;
    }

    // The ways the stage may replace files here: swapping each with its new copy, and the two
    // renames a file system without swaps needs. Where the system tells no files apart
    // (Windows), it never swaps: only the renames.
    std::vector<bool> SwapModes()
    {
        uint64_t identity = 0;
        return system.IdentityOf(temp.Path().string(), identity) ? std::vector<bool>{true, false}
                                                                 : std::vector<bool>{false};
    }

    // A reason the checks must find in the world of MakeWorld, once arranged.
    struct Refusal {
        const char *what;
        std::function<void()> arrange;
        std::string logged; // a part of the logged check: the path it failed on
    };

    // The stage as a run makes it: its result, then what it left for after the result is out.
    bool RunStage()
    {
        const bool ok = CopyUpdateFiles(context);
        FinishUpgrade(context);
        return ok;
    }

    // Each case: the world passes the checks; arranged, the checks fail and log the reason,
    // and the stage itself refuses before writing anything in the product folder.
    void ExpectRefusedBeforeWriting(const std::vector<Refusal> &cases)
    {
        for (size_t i = 0; i < cases.size(); ++i) {
            const std::string where =
                std::string("case ") + std::to_string(i) + " (" + cases[i].what + ")";
            MakeWorld();
            files.FailListing.clear();
            files.Refused.clear();
            files.EditSpace = nullptr;
            EXPECT_TRUE(CheckUpdateFiles(context)) << where;
            cases[i].arrange();
            const auto before = SnapshotTree(temp.Path() / "product");
            LogRecorder log;

            EXPECT_FALSE(CheckUpdateFiles(context)) << where;
            EXPECT_TRUE(log.Holds(cases[i].logged)) << where << "\n" << log.Text();
            EXPECT_FALSE(RunStage()) << where;

            EXPECT_EQ(SnapshotTree(temp.Path() / "product"), before) << where;
            EXPECT_EQ(parts.Window.StepText(), kStageStep) << where; // no file was begun
            EXPECT_EQ(parts.Window.ProgressPosition(), 0) << where;
            for (const std::string &kept : KeptAsideJournals(system, context.ProgramFolder))
                std::filesystem::remove_all(kept);
            std::filesystem::remove_all(Journal());
            parts.Product.Path = Target().string();
        }
    }

    TempFolder temp;
    SystemFileSystem system;
    FaultyFileSystem files{system};
    UpgradeParts parts;
    RecordingWindow &window = parts.Window;
    UpgradeContext context = parts.Context(temp.Slashed() + "prog/", files);
};

} // namespace offline_upgrade
