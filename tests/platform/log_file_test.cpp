#include "platform/log_file.h"

#include "tests/support/temp_folder.h"
#include "tests/support/unprivileged.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace offline_upgrade {

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Lines(const fs::path &file)
{
    std::istringstream in(ReadWholeFile(file));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const char *value) : name_(name)
    {
        if (const char *old = std::getenv(name))
            old_ = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char *name_;
    std::optional<std::string> old_;
};

TEST(FileLogSink, EachRecordHasItsTimeAndLevelAndLaterLinesAreIndented)
{
    TempFolder folder;
    {
        FileLogSink log({folder.Slashed()});
        ASSERT_EQ(log.Path(), folder.Slashed() + kLogFileName);
        log.BeginSection("offline-upgrade 1.0.0");
        log.Write(LogLevel::Info, "one");
        log.Write(LogLevel::Warning, "two");
        log.Write(LogLevel::Error, "block x failed: [42S02] (native error 1146) no table\r\n"
                                   "[01000] second record\n");
    }
    const std::vector<std::string> lines = Lines(folder.Path() / kLogFileName);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "");
    const std::string stamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} [+-]\d{4})";
    EXPECT_TRUE(
        std::regex_match(lines[1], std::regex(stamp + " ===== offline-upgrade 1.0.0 =====")))
        << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2], std::regex(stamp + " INFO  one"))) << lines[2];
    EXPECT_TRUE(std::regex_match(lines[3], std::regex(stamp + " WARN  two"))) << lines[3];
    EXPECT_TRUE(std::regex_match(
        lines[4],
        std::regex(stamp + R"( ERROR block x failed: \[42S02\] \(native error 1146\) no table)")))
        << lines[4];
    EXPECT_EQ(lines[5], "    [01000] second record");
}

TEST(FileLogSink, AppendsToWhatEarlierStartsWrote)
{
    TempFolder folder;
    folder.Write(kLogFileName, "earlier run\n");
    {
        FileLogSink log({folder.Path().string()}); // without a trailing separator
        log.Write(LogLevel::Info, "this run");
    }
    const std::vector<std::string> lines = Lines(folder.Path() / kLogFileName);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "earlier run");
    EXPECT_NE(lines[1].find("INFO  this run"), std::string::npos);
}

TEST(FileLogSink, RotatesOnceWhenPastTheLimit)
{
    TempFolder folder;
    const fs::path log = folder.Path() / kLogFileName;
    const fs::path older = folder.Path() / (std::string(kLogFileName) + ".1");
    const uint64_t limit = 1000;
    struct Case {
        const char *what;
        size_t existing; // bytes in the log before the start
        int lines;       // lines of 100 bytes written
        size_t olderBytesAtLeast;
    };
    const Case cases[] = {
        {"small log, few lines: no rotation", 100, 5, 0},
        {"log already past the limit at the start", 1500, 1, 1500},
        {"grows past the limit while running", 0, 12, limit},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        fs::remove(log);
        folder.Write(older.filename().string(), "the part kept before\n");
        if (c.existing)
            folder.Write(log.filename().string(), std::string(c.existing - 1, 'o') + "\n");
        {
            FileLogSink sink({folder.Slashed()}, limit);
            for (int n = 0; n < c.lines; ++n)
                sink.Write(LogLevel::Info, std::string(60, 'a' + static_cast<char>(n)));
        }
        const std::string where = "case " + std::to_string(i) + " (" + c.what + ")";
        EXPECT_LT(fs::file_size(log), limit) << where;
        if (c.olderBytesAtLeast == 0) {
            EXPECT_EQ(ReadWholeFile(older), "the part kept before\n") << where;
        } else {
            // The older part replaces the one kept before; nothing is lost in between.
            EXPECT_GE(fs::file_size(older), c.olderBytesAtLeast) << where;
            EXPECT_EQ(ReadWholeFile(older).find("the part kept before"), std::string::npos)
                << where;
            EXPECT_EQ(Lines(log).size() + Lines(older).size(),
                      static_cast<size_t>(c.lines) + (c.existing ? 1 : 0))
                << where;
        }
    }
}

TEST(FileLogSink, TakesTheFirstFolderThatCanBeWrittenOrNone)
{
    TempFolder folder;
    // A folder in the log file's place, and a file in a folder's place: neither can take it.
    fs::create_directories(folder.Path() / "blocked" / kLogFileName);
    folder.Write("file", "");
    const std::string blocked = folder.Slashed() + "blocked/";
    const std::string underFile = folder.Slashed() + "file/sub/";
    const std::string fresh = folder.Slashed() + "state/deep/";
    {
        FileLogSink log({blocked, underFile, fresh});
        EXPECT_EQ(log.Path(), fresh + kLogFileName) << "the missing folder is made";
        log.Write(LogLevel::Info, "kept");
    }
    EXPECT_NE(ReadWholeFile(fresh + kLogFileName).find("kept"), std::string::npos);

    FileLogSink none({blocked, underFile, ""});
    EXPECT_EQ(none.Path(), "");
    none.BeginSection("dropped");
    none.Write(LogLevel::Error, "dropped"); // no file, no throw
}

TEST(UpgradeLogFolders, ProgramFolderThenTheUsersStateFolder)
{
    struct Case {
        const char *state;
        const char *home;
        std::string second;
    };
    const Case cases[] = {
        {"/var/state", "/home/u", "/var/state/offline-upgrade/"},
        {nullptr, "/home/u", "/home/u/.local/state/offline-upgrade/"},
        {"", "/home/u", "/home/u/.local/state/offline-upgrade/"},
        // A relative XDG_STATE_HOME is invalid by its rules.
        {"relative/state", "/home/u", "/home/u/.local/state/offline-upgrade/"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const ScopedEnv state("XDG_STATE_HOME", cases[i].state);
        const ScopedEnv home("HOME", cases[i].home);
        EXPECT_EQ(UpgradeLogFolders("/opt/kx/"),
                  (std::vector<std::string>{"/opt/kx/", cases[i].second}))
            << "case " << i;
    }
}

// A program folder the user may not write, as on a read-only share or under a system folder:
// the log goes to the user's state folder.
TEST(OpenUpgradeLog, ReadOnlyProgramFolderLogsToTheStateFolder)
{
    TempFolder folder;
    fs::permissions(folder.Path(), fs::perms(0755));
    const std::string program = folder.Slashed() + "program/";
    const std::string state = folder.Slashed() + "state";
    fs::create_directories(program);
    fs::create_directories(state);
    fs::permissions(program, fs::perms(0555));
    fs::permissions(state, fs::perms(0777));
    const ScopedEnv xdg("XDG_STATE_HOME", state.c_str());

    const std::string path = RunUnprivileged([&] {
        const std::unique_ptr<FileLogSink> log = OpenUpgradeLog(program);
        log->Write(LogLevel::Info, "from the read-only folder");
        return log->Path();
    });

    EXPECT_EQ(path, state + "/offline-upgrade/" + kLogFileName);
    EXPECT_FALSE(fs::exists(program + kLogFileName));
    EXPECT_NE(ReadWholeFile(path).find("from the read-only folder"), std::string::npos);
}

} // namespace

} // namespace offline_upgrade
