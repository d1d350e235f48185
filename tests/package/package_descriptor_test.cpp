#include "package/package_info.h"

#include "platform/text.h"

#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace offline_upgrade {

namespace {

class PackageDescriptorTest : public ::testing::Test {
protected:
    T_PackageInfo Read(const std::string &bytes)
    {
        return ReadPackageDescriptor(folder_.Write("TempUpdate/Update.ini", bytes).string());
    }

    TempFolder folder_;
};

TEST_F(PackageDescriptorTest, EveryKeyFillsItsField)
{
    const T_PackageInfo info = Read("; written by the packer\r\n"
                                    "[OTHER]\r\ncorp=someone\r\n"
                                    "[CONFIG]\r\n"
                                    "corp=glenmarsh\r\n"
                                    "Soft=Finance\r\n"
                                    "Version=5\r\n"
                                    "Build=20240131\r\n"
                                    "EndDate=2025-12-31\r\n"
                                    "SQLCount=12\r\n"
                                    "PackageName=fin5.zip\r\n"
                                    "DbType=0x1\r\n"
                                    "ExeName=fin.exe\r\n"
                                    "RegValue=FIN\r\n"
                                    "Unknown=ignored\r\n");
    T_PackageInfo expected;
    expected.corp = "glenmarsh";
    expected.Soft = "Finance";
    expected.Version = "5";
    expected.Build = "20240131";
    expected.EndDate = "2025-12-31";
    expected.SQLCount = 12;
    expected.PackageName = "fin5.zip";
    expected.DbType = 1;
    expected.ExeName = "fin.exe";
    expected.RegValue = "FIN";
    EXPECT_EQ(info, expected);
}

TEST_F(PackageDescriptorTest, MissingPiecesGiveTheEmptyRecord)
{
    EXPECT_EQ(ReadPackageDescriptor(folder_.Slashed() + "none.ini"), T_PackageInfo{});
    EXPECT_EQ(Read(""), T_PackageInfo{});
    EXPECT_EQ(Read("[OTHER]\ncorp=glenmarsh\nSQLCount=3\n"), T_PackageInfo{});
    EXPECT_EQ(Read("[CONFIG]\ncorp=\nSoft=\nSQLCount=\nDbType=\nRegValue=\n"), T_PackageInfo{});
}

struct IntegerCase {
    const char *written;
    int32_t expected;
};

TEST_F(PackageDescriptorTest, IntegerRule)
{
    // clang-format off
    const IntegerCase cases[] = {
        {"12", 12},          {"007", 7},          {"0", 0},
        {"-5", -5},          {"+7", 7},           {"\" 12\"", 12},
        {"\"  -3\"", -3},    {"0x1", 1},          {"0X1f", 31},
        {"0x0010", 16},      {"0x7FFFFFFF", INT32_MAX},
        {"$1F", 31},         {"$ff", 255},        {"-$10", -16},
        {"+$A", 10},         {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN},
        // not wholly a number, or too big: 0
        {"", 0},             {"abc", 0},          {"12abc", 0},
        {"1 2", 0},          {"\"12 \"", 0},      {"0x", 0},
        {"0X", 0},           {"0xG", 0},          {"0x-1", 0},
        {"-0x10", 0},        {"$", 0},            {"-", 0},
        {"$-1", 0},          {"1e3", 0},          {"2147483648", 0},
        {"-2147483649", 0},  {"0x80000000", 0},   {"0xFFFFFFFFF", 0},
        {"99999999999999999999", 0},
    };
    // clang-format on
    for (size_t i = 0; i < std::size(cases); ++i) {
        const std::string v = cases[i].written;
        const T_PackageInfo info = Read("[CONFIG]\nSQLCount=" + v + "\nDbType=" + v + "\n");
        EXPECT_EQ(info.SQLCount, cases[i].expected) << "case " << i << ": " << v;
        EXPECT_EQ(info.DbType, cases[i].expected) << "case " << i << ": " << v;
    }
}

TEST_F(PackageDescriptorTest, LongValuesAreCutTo2047Bytes)
{
    const std::string ascii(3000, 'a');
    EXPECT_EQ(Read("[CONFIG]\nSoft=" + ascii + "\n").Soft, ascii.substr(0, 2047));
    EXPECT_EQ(Read("[CONFIG]\nBuild=" + ascii.substr(0, 2047) + "\n").Build.size(), 2047u);

    // The cut never splits a UTF-8 character: "ab" and 681 three-byte characters fit (2045
    // bytes); the 682nd would end at byte 2048.
    std::string chinese = "ab";
    for (int i = 0; i < 1000; ++i)
        chinese += "中";
    const std::string soft = Read("[CONFIG]\nSoft=" + chinese + "\n").Soft;
    EXPECT_EQ(soft, chinese.substr(0, 2 + 681 * 3));
    EXPECT_TRUE(IsValidUtf8(soft));

    // A long number is cut before it is converted.
    EXPECT_EQ(Read("[CONFIG]\nSQLCount=" + std::string(2046, '0') + "7xyz\n").SQLCount, 7);
}

TEST_F(PackageDescriptorTest, ChineseCodePageDescriptor)
{
    // As a maker's packer on Windows writes it: code page 936 bytes, CR LF.
    const T_PackageInfo info = Read("[CONFIG]\r\n"
                                    "corp=glenmarsh\r\n"
                                    "Soft=\xCB\xB7\xE1\xB7\xB2\xC6\xCE\xF1\xC8\xED\xBC\xFE\r\n"
                                    "Build=\xB5\xDA\x32\r\n" // "第2"
                                    "SQLCount=4\r\n");
    EXPECT_EQ(info.corp, "glenmarsh");
    EXPECT_EQ(info.Soft, "朔岱财务软件");
    EXPECT_EQ(info.Build, "第2");
    EXPECT_EQ(info.SQLCount, 4);
}

} // namespace

} // namespace offline_upgrade
