#pragma once
// The upgrade run's world for its tables on both systems: a real temporary program folder, the
// archiver stand-in, the fake data layer and the system's file system behind a
// FaultyFileSystem.

#include "real_services.h"
#include "tests/support/fake_archiver.h"
#include "tests/support/fake_data_access.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/recording_window.h"
#include "tests/support/temp_folder.h"
#include "tests/support/upgrade_parts.h"
#include "upgrade/upgrade_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace offline_upgrade {

class UpgradeRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        program = folder.Slashed();
        Package.PackageName = "pkg_2.zip";
        Package.PackagePath = program;
        Package.DbType = 1;
        Package.SQLCount = 1;
        Product.ServerName = "localhost"; // local for MySQL: the script runs
        Product.Path = (folder.Path() / "product").string();
        connection.SetConnectionString("unset");
    }

    bool Run()
    {
        UpgradeContext context =
            parts.Context(program, files, connection, query, command, archiver);
        return RunUpgrade(context, program + "pkg_2.zip");
    }

    // What a good package unpacks: one SQL block and one application file.
    void UnpackGoodPackage()
    {
        folder.Write("TempUpdate/pkg_2/UpdateSQL.sql",
                     "-- sql begin one\r\ninsert into t values (1)\r\n-- end sql\r\n");
        folder.Write("TempUpdate/pkg_2/UpdateFiles/bin/app.txt", "new");
    }

    std::vector<std::string> MessageTexts() const
    {
        std::vector<std::string> texts;
        for (const auto &m : window.Messages)
            texts.push_back(m.Text);
        return texts;
    }

    // Each case, arranged in a product folder made anew, stops the run before its first block:
    // no block ran, no message, the file stage's failure as the last step, no file written,
    // and the connection closed.
    struct Stop {
        const char *what;
        std::function<void()> arrange;
    };
    void ExpectStoppedBeforeTheFirstBlock(const std::vector<Stop> &cases)
    {
        archiver.OnStart = [this] { UnpackGoodPackage(); };
        for (size_t i = 0; i < cases.size(); ++i) {
            const std::string where = "case " + std::to_string(i) + " (" + cases[i].what + ")";
            std::filesystem::remove_all(folder.Path() / "product");
            std::filesystem::create_directories(folder.Path() / "product");
            files.EditSpace = nullptr;
            cases[i].arrange();
            command.Executed.clear();
            window.Steps.clear();

            EXPECT_FALSE(Run()) << where;

            EXPECT_TRUE(command.Executed.empty()) << where;
            EXPECT_TRUE(window.Messages.empty()) << where;
            // As a failed file stage: its last step text, and no other stage's.
            EXPECT_EQ(window.Steps.back(), "更新文件失败") << where;
            EXPECT_EQ(std::count(window.Steps.begin(), window.Steps.end(), "正在更新文件..."), 0)
                << where;
            EXPECT_NE(ReadWholeFile(folder.Path() / "product/bin/app.txt"), "new") << where;
            EXPECT_FALSE(connection.IsOpen) << where;
        }
    }

    TempFolder folder;
    std::string program;
    UpgradeParts parts;
    T_PackageInfo &Package = parts.Package;
    T_ProductReg &Product = parts.Product;
    FakeConnection connection;
    FakeQuery query;
    FakeCommand command;
    RecordingWindow &window = parts.Window;
    SystemFileSystem realFiles;
    FaultyFileSystem files{realFiles};
    FakeArchiver archiver;
};

} // namespace offline_upgrade
