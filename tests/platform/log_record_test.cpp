// What a record of the upgrade log holds, on both systems: its time stamp with the UTC offset,
// and names with control characters written as escapes.
#include "platform/log_file.h"

#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace offline_upgrade {

namespace {

std::vector<std::string> Lines(const std::filesystem::path &file)
{
    std::istringstream in(ReadWholeFile(file));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::tm Calendar(int year, int yday, int hour, int minute)
{
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_yday = yday;
    t.tm_hour = hour;
    t.tm_min = minute;
    return t;
}

TEST(UtcOffsetText, FromTheLocalAndTheUniversalCalendar)
{
    const struct {
        std::tm local;
        std::tm utc;
        const char *offset;
    } cases[] = {
        {Calendar(2026, 343, 14, 38), Calendar(2026, 343, 14, 38), "+0000"},
        {Calendar(2026, 343, 22, 38), Calendar(2026, 343, 14, 38), "+0800"},
        {Calendar(2026, 344, 2, 8), Calendar(2026, 343, 20, 38), "+0530"}, // next day
        {Calendar(2026, 343, 20, 8), Calendar(2026, 343, 23, 38), "-0330"},
        {Calendar(2026, 342, 21, 0), Calendar(2026, 343, 7, 0), "-1000"}, // day before
        {Calendar(2027, 0, 7, 45), Calendar(2026, 364, 18, 0), "+1345"},  // over the year's end
        {Calendar(2026, 364, 14, 0), Calendar(2027, 0, 2, 0), "-1200"},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(UtcOffsetText(cases[i].local, cases[i].utc), cases[i].offset) << "case " << i;
}

// The offset of now in the record is the system's own (also where the C library's strftime
// has none to give, as Windows' under Wine).
TEST(FileLogSink, EveryRecordCarriesItsUtcOffset)
{
    TempFolder folder;
    const std::time_t now = std::time(nullptr);
    {
        FileLogSink log({folder.Slashed()});
        log.Write(LogLevel::Info, "one");
    }
    const std::tm local = *std::localtime(&now);
    const std::tm utc = *std::gmtime(&now);
    const std::vector<std::string> lines = Lines(folder.Path() / kLogFileName);
    ASSERT_EQ(lines.size(), 1u);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(
        lines[0], match,
        std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} ([+-]\d{4}) INFO  one)")))
        << lines[0];
    EXPECT_EQ(match[1].str(), UtcOffsetText(local, utc));
}

// Names from packages, scripts and the file system in records: a terminal showing the log
// neither obeys their control characters nor sees a line break that is not one.
TEST(FileLogSink, ControlCharactersInNamesAreWrittenAsEscapes)
{
    const struct {
        std::string record;
        std::vector<std::string> written; // after the time stamp and level
    } cases[] = {
        {"scan: \x1b]0;owned\x07.zip: passed over", {"scan: \\x1b]0;owned\\x07.zip: passed over"}},
        {"block \x1b[31mred\x1b[0m: ran", {"block \\x1b[31mred\\x1b[0m: ran"}},
        {"scan: a\r2026-12-10 INFO  upgrade: succeeded.zip",
         {"scan: a\\x0d2026-12-10 INFO  upgrade: succeeded.zip"}},
        {"bell\x07 and \xc2\x9b"
         "31m",
         {"bell\\x07 and \\u009b31m"}},
        {"a name\nsplit", {"a name", "    split"}},
        {"driver said\r\nsecond", {"driver said", "    second"}},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        TempFolder folder;
        {
            FileLogSink log({folder.Slashed()});
            log.Write(LogLevel::Info, cases[i].record);
        }
        std::vector<std::string> lines = Lines(folder.Path() / kLogFileName);
        ASSERT_EQ(lines.size(), cases[i].written.size()) << "case " << i;
        const std::string head = "INFO  ";
        ASSERT_NE(lines[0].find(head), std::string::npos) << "case " << i;
        lines[0] = lines[0].substr(lines[0].find(head) + head.size());
        EXPECT_EQ(lines, cases[i].written) << "case " << i;
    }
}

} // namespace

} // namespace offline_upgrade
