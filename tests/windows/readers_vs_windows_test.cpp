// Our readers against Windows' own functions, run under Wine: INI look-ups against
// GetPrivateProfileString, registry store reads against RegQueryValueEx after the registry editor
// imported the same file, command-line splits against CommandLineToArgvW. Every row either
// agrees or names the documented choice (README, "Where we differ from Windows on purpose") that
// makes it differ; such a row must still differ, so a stale mark is caught too.
//
// The Windows side is windows_probe.exe, run once for all rows in the build's own Wine prefix
// (scripts/wine-prefix), with the C.UTF-8 locale, so its ANSI code page is 1252 and the 8-bit
// functions hand back the file's bytes as they are.

#include "archiver/archiver_commands.h"
#include "platform/codepage.h"
#include "platform/ini_file.h"
#include "platform/posix/process_posix.h"
#include "platform/posix/registry_posix.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <iconv.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace offline_upgrade {

namespace {

using namespace std::string_literals;

// The documented choices; the README's table names them the same way.
const char kWholeValue[] = "whole value";
const char kBadKeyLine[] = "bad key line";
const char kNoDeletions[] = "no deletions";
const char kProgramEscapes[] = "program name escapes";
const char kLoneBackslash[] = "lone backslash kept";

std::string ToHex(const std::string &bytes)
{
    if (bytes.empty())
        return "-";
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string FromHex(const std::string &hex)
{
    std::string out;
    if (hex == "-")
        return out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

// Shows control bytes, so a failure message can be read.
std::string Visible(const std::string &text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\x%02x", c);
            out += buffer;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string Utf16Le(const std::string &utf8)
{
    iconv_t cd = iconv_open("UTF-16LE", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error("iconv_open");
    std::string in = utf8;
    std::string out(in.size() * 4 + 8, '\0');
    char *src = in.data();
    char *dst = out.data();
    size_t srcLeft = in.size();
    size_t dstLeft = out.size();
    const size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1))
        throw std::runtime_error("iconv");
    out.resize(out.size() - dstLeft);
    return out;
}

std::string WindowsPath(const std::filesystem::path &path)
{
    std::string out = "Z:" + path.string();
    for (char &c : out)
        if (c == '/')
            c = '\\';
    return out;
}

// --- The rows -------------------------------------------------------------------------------

struct IniCase {
    std::string file;
    const char *section;
    const char *key;
    const char *choice = nullptr;
};

std::string Utf16File(const std::string &text)
{
    return "\xFF\xFE"s + Utf16Le(text);
}

std::vector<IniCase> IniCases()
{
    return {
        // line ends and blanks
        {"[CONFIG]\nA=1\nB=2\n", "CONFIG", "B"},
        {"[CONFIG]\r\nA=1\r\nB=2\r\n", "CONFIG", "B"},
        {"[CONFIG]\rA=1\rB=2\r", "CONFIG", "B"},
        {"[X]\r\nB=0\n[CONFIG]\rA=1\r\nB=2", "CONFIG", "B"},
        {"  [ \tCONFIG  ]  \n  Soft \t=  x y \t\n", "CONFIG", "Soft"},
        {"[CONFIG] trailing words\nSoft=x\n", "CONFIG", "Soft"},
        {"[CONFIG]\nA=\v\fx\f\v\n", "CONFIG", "A"},
        {"[CONFIG]\nA=\x01x\x1f\n", "CONFIG", "A"},
        {"[CONFIG]\n\x01A=1\n", "CONFIG", "A"},
        // letter case of names
        {"[config]\nsoft=x\n", "CONFIG", "Soft"},
        {"[CoNfIg]\nSOFT=x\n", "config", "soft"},
        // quotes
        {"[CONFIG]\nA=\"  x  \"\n", "CONFIG", "A"},
        {"[CONFIG]\nA= 'x' \n", "CONFIG", "A"},
        {"[CONFIG]\nA=\"x'\n", "CONFIG", "A"},
        {"[CONFIG]\nA=\"\n", "CONFIG", "A"},
        {"[CONFIG]\nA=''\n", "CONFIG", "A"},
        {"[CONFIG]\nA=a\"b\"\n", "CONFIG", "A"},
        // empty values, "=" and ";" inside values, lines without "="
        {"[CONFIG]\nA=\nA=late\n", "CONFIG", "A"},
        {"[CONFIG]\nA=   \n", "CONFIG", "A"},
        {"[CONFIG]\nA=b=c\n", "CONFIG", "A"},
        {"[CONFIG]\nA = b ; not a comment\n", "CONFIG", "A"},
        {"[CONFIG]\nA\n", "CONFIG", "A"},
        {"[CONFIG]\nA\nA=1\n", "CONFIG", "A"},
        // comments
        {"[CONFIG]\n;A=1\nA=2\n", "CONFIG", "A"},
        {"[CONFIG]\n   ; A=1\n", "CONFIG", "A"},
        {";[CONFIG]\nA=1\n", "CONFIG", "A"},
        // first section and first key
        {"[CONFIG]\nA=1\n[CONFIG]\nA=2\nB=3\n", "CONFIG", "A"},
        {"[CONFIG]\nA=1\na=2\n", "CONFIG", "A"},
        {"[OTHER]\nA=0\n[CONFIG]\nA=1\n[OTHER]\nA=2\n", "CONFIG", "A"},
        // missing pieces
        {"", "CONFIG", "A"},
        {"A=1\n[CONFIG]\n", "CONFIG", "A"},
        {"[OTHER]\nA=1\n", "CONFIG", "A"},
        {"[CONFIGS]\nA=1\n", "CONFIG", "A"},
        {"[CONFIG\nA=1\n", "CONFIG", "A"},
        {"[CONFIG]\nAB=1\n", "CONFIG", "A"},
        // byte-order marks and UTF-16
        {"\xEF\xBB\xBF[CONFIG]\nA=1\n", "CONFIG", "A"},
        {"\xEF\xBB\xBF\xEF\xBB\xBF[CONFIG]\nA=1\n", "CONFIG", "A"},
        {Utf16File("[CONFIG]\r\nSoft=朔岱产品\r\nBuild=5.0.1\r\n"), "CONFIG", "Soft"},
        {Utf16File("[CONFIG]\r\nSoft=朔岱产品\r\nBuild=5.0.1\r\n"), "CONFIG", "Build"},
        {Utf16File("[配置]\r\n名=值\r\n"), "配置", "名"},
        {"\xFE\xFF\0[\0C\0O\0N\0F\0I\0G\0]\0\n\0A\0=\0\x31"s, "CONFIG", "A"},
        {"\xFF\xFE\xFF\xFE"s + Utf16Le("[CONFIG]\nA=1\n"), "CONFIG", "A"},
        // zero bytes
        {"[CONFIG]\nA=ab\0cd\n"s, "CONFIG", "A"},
        {"[CONFIG]\nA=\0abc\nB=2\n"s, "CONFIG", "A"},
        {"[CONFIG]\nA= \0abc\n"s, "CONFIG", "A"},
        {"[CONFIG]\nA=\" \0 \"\n"s, "CONFIG", "A"},
        {"[CONFIG]\nA\0B=1\n"s, "CONFIG", "A"},
        {"[CONFIG]\n\0A=1\n"s, "CONFIG", "A"},
        {"[CONF\0IG]\nA=1\n"s, "CONF", "A"},
        {"\0[CONFIG]\nA=1\n"s, "CONFIG", "A"},
        // 8-bit text: UTF-8 and GB18030 both arrive as the same text
        {"[CONFIG]\nSoft=\xCB\xB7\xE1\xB7\xB2\xFA\xC6\xB7\n", "CONFIG", "Soft"},
        {"[CONFIG]\r\nSoft=朔岱产品\r\n", "CONFIG", "Soft"},
        {"[配置]\n名=1\n", "配置", "名"},
        // a descriptor as packages carry it
        {"[CONFIG]\r\ncorp=glenmarsh\r\nSoft=ABC\r\nVersion=5\r\nBuild=5.0.1234\r\n"
         "SQLCount=12\r\nDbType=0x1\r\nRegValue=ABC\r\n",
         "CONFIG", "RegValue"},
        // Windows hands out at most 2047 characters; the reader gives the whole value and the
        // descriptor cuts it.
        {"[CONFIG]\nA=" + std::string(3000, 'v') + "\n", "CONFIG", "A", kWholeValue},
    };
}

enum class Format { V4, V5 };

struct RegCase {
    Format format;
    std::string lines; // below the header; "@" stands for this row's own key
    const char *key;   // below this row's own key, "" for that key
    const char *name;
    const char *choice = nullptr;
};

std::vector<RegCase> RegCases()
{
    const std::string utf16Path = "hex(2):" + [] {
        std::string list;
        for (unsigned char c : Utf16Le("%SystemRoot%\\App"s + '\0')) {
            char buffer[4];
            std::snprintf(buffer, sizeof buffer, "%02x,", c);
            list += buffer;
        }
        list.pop_back();
        return list;
    }();
    return {
        // the registration as an administrator writes it, in both formats
        {Format::V4, "[@\\ClientConfigure]\n\"Version\"=\"5\"\n\"Build\"=\"5.0.1234\"\n",
         "ClientConfigure", "Build"},
        {Format::V5, "[@\\ClientConfigure]\n\"ServerName\"=\"数据库\"\n", "ClientConfigure",
         "ServerName"},
        {Format::V4, "[@]\n\"Quote\"=\"say \\\"hi\\\" C:\\\\dir\\\\\"\n", "", "Quote"},
        {Format::V4, "[@]\n\"Raw\"=\"C:\\Program Files\"\n", "", "Raw", kLoneBackslash},
        {Format::V4, "[@]\n@=\"default\"\n", "", ""},
        {Format::V4, "[@]\n\"Num\"=dword:0000001f\n", "", "Num"},
        {Format::V4, "[@]\n\"Q\"=hex(b):01,00,00,00,00,00,00,00\n", "", "Q"},
        {Format::V4, "[@]\n\"Empty\"=\"\"\n", "", "Empty"},
        {Format::V4, "[@]\n\"Dup\"=\"first\"\n\"DUP\"=\"second\"\n", "", "dup"},
        {Format::V4, "[@]\n  \"Spaced\" = \"blanks\"\n", "", "Spaced"},
        {Format::V4, "[@]\n\"中文\"=\"汉字值\"\n", "", "中文"},
        {Format::V4, "[@]\n\"S\"=\"x\" junk\n", "", "S"},
        {Format::V4, "[@]\n\"D\"=dword:123456789\n", "", "D"},
        {Format::V4, "[@]\n\"D\"=dword:4\n", "", "D"},
        {Format::V4, "[@]\n\"H\"=hex:1,zz\n", "", "H"},
        {Format::V4, "[@\\a]\n\"V\"=\"1\"\n[@\\a]\n\"W\"=\"2\"\n", "a", "V"},
        // comments after the data
        {Format::V4, "[@]\n\"Build\"=\"5.0.1234\" ;note\n", "", "Build"},
        {Format::V4, "[@]\n\"B\"=\"x;y\";note\n", "", "B"},
        {Format::V4, "[@]\n\"D\"=dword:00000004 ;note\n", "", "D"},
        {Format::V5, "[@]\n\"H\"=hex:01,02 ;note\n", "", "H"},
        // hex data: blanks, continuation lines
        {Format::V4, "[@]\n\"H\"=hex: 01, 02\n", "", "H"},
        {Format::V4, "[@]\n\"H\"=hex:01 ,02\n", "", "H"},
        {Format::V4, "[@]\n\"H\"=hex:01,02,\\\n; comment\n  03\n", "", "H"},
        {Format::V5, "[@]\n\"H\"=hex:01,02,\\\n\n  03\n", "", "H"},
        {Format::V4, "[@]\n\"H\"=hex:01,\\ ;c\n ; line\n  02 ;c2\n", "", "H"},
        {Format::V4, "[@]\n\"H\"=hex:\\\n  01\n", "", "H"},
        {Format::V4, "[@]\n\"H\"=hex:01,\\\n", "", "H"},
        {Format::V4, "[@]\n\"H\"=hex:01,02\\\n\"N\"=\"next\"\n", "", "H"},
        {Format::V4, "[@]\n\"H\"=hex:01,02\\\n\"N\"=\"next\"\n", "", "N"},
        {Format::V4, "[@]\n\"H\"=hex:01,\\\n  \\\n  02\n", "", "H"},
        {Format::V4, "[@]\n\"H\"=hex:01,\\\n\"N\"=\"next\"\n", "", "N"},
        {Format::V4, "[@]\n\"H\"=hex:01,\\\n[@\\sub]\n\"N\"=\"n\"\n", "", "N"},
        // key lines
        {Format::V4, "[@\\k2\\]\n\"V\"=\"2\"\n", "k2", "V"},
        {Format::V4, "[@\\\\\\k1]\n\"V\"=\"1\"\n", "k1", "V"},
        {Format::V4, "[@\\k4] ;c\n\"V\"=\"4\"\n", "k4", "V"},
        {Format::V4, "[@\\a]b]\n\"V\"=\"ab\"\n", "a]b", "V"},
        {Format::V4, "[@\\c ]\n\"V\"=\"c\"\n", "c ", "V"},
        {Format::V4, "[@\\p]\n\"V\"=\"p\"\n[@\\un\n\"V\"=\"t\"\n", "p", "V", kBadKeyLine},
        {Format::V4, "[@\\p]\n\"V\"=\"p\"\n[HKLM\\Software\\x]\n\"V\"=\"t\"\n", "p", "V"},
        {Format::V4, "[@\\p]\n\"V\"=\"p\"\n[-@\\p]\n", "p", "V", kNoDeletions},
        // string data in hex
        {Format::V4, "[@]\n\"E\"=hex(2):41,42\n", "", "E"},
        {Format::V4, "[@]\n\"E\"=hex(2):41,42,00\n", "", "E"},
        {Format::V4, "[@]\n\"M\"=hex(7):41,00,42\n", "", "M"},
        {Format::V4, "[@]\n\"M\"=hex(7):41,00,42,00,00\n", "", "M"},
        {Format::V4, "[@]\n\"S\"=hex(1):41\n", "", "S"},
        {Format::V4, "[@]\n\"E\"=hex(2):\n", "", "E"},
        {Format::V5, "[@]\n\"E\"=hex(2):41,00,42,00\n", "", "E"},
        {Format::V5, "[@]\n\"E\"=" + utf16Path + "\n", "", "E"},
    };
}

struct ArgvCase {
    std::string line;
    const char *choice = nullptr;
};

std::vector<ArgvCase> ArgvCases()
{
    std::vector<ArgvCase> cases = {
        {R"("C:\Program Files\KX_Rar.exe" x)"},
        {R"(prog x)"},
        {"prog\tx"},
        {"\"unclosed name"},
        {R"(p a\\\b d"e f"g h)"},
        {R"(p a\\\"b c d)"},
        {R"(p a\\\\"b c" d e)"},
        {R"(p "a\\")"},
        {R"(p a\)"},
        {R"(p a"b"" c d)"},
        {R"(p """a b""")"},
        {R"(p "" x)"},
        {R"(p "a b)"},
        {"p  \t a \t "},
        {R"(p "中文 名" 汉字)"},
        // backslashes before a quote in a quoted program name
        {R"("a\"b c)", kProgramEscapes},
        {R"("C:\dir\\" x)", kProgramEscapes},
    };
    // The lines the tool gives the archiver, for folders Windows allows too, and for one it
    // does not.
    for (const char *folder : {"/opt/kx/", "/home/u/升级 包/", "/srv/a b/", "/x/"}) {
        for (const char *name : {"a.zip", "V 2.0 补丁.zip", "quote\"inside.zip", "trailing\\"}) {
            cases.push_back({CommentCommandLine(folder, name)});
            cases.push_back({ExtractCommandLine(folder, std::string(folder) + name)});
        }
    }
    cases.push_back({CommentCommandLine("/srv/a\"b/", "a.zip"), kProgramEscapes});
    return cases;
}

// --- Running both sides ---------------------------------------------------------------------

std::string Env(const char *name)
{
    const char *value = std::getenv(name);
    if (!value || !*value)
        throw std::runtime_error(std::string(name) + " is not set");
    return value;
}

class ReadersVsWindows : public ::testing::Test {
protected:
    // Runs the probe over the requests, one answer line for each.
    std::vector<std::string> AskWindows(const std::vector<std::string> &requests)
    {
        const auto requestFile = folder_.Path() / "requests.txt";
        const auto answerFile = folder_.Path() / "answers.txt";
        const auto logFile = folder_.Path() / "probe.log";
        std::string text;
        for (const std::string &r : requests)
            text += r + "\n";
        folder_.Write("requests.txt", text);
        // No descriptor of ours reaches Wine's helper processes, which may outlive the run.
        const std::string command = "LC_ALL=C.UTF-8 '" + Env("KX_WINE_PREFIX") + "' run '" +
                                    Env("KX_BUILD_DIR") + "' '" + Env("KX_WINDOWS_PROBE") + "' '" +
                                    WindowsPath(requestFile) + "' '" + WindowsPath(answerFile) +
                                    "' </dev/null >'" + logFile.string() + "' 2>&1";
        const auto start = std::chrono::steady_clock::now();
        const int rc = std::system(command.c_str());
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
        std::cout << "probe: " << requests.size() << " requests in " << ms << " ms\n";
        EXPECT_EQ(rc, 0) << ReadWholeFile(logFile);
        std::vector<std::string> answers;
        std::istringstream in(ReadWholeFile(answerFile));
        for (std::string line; std::getline(in, line);)
            answers.push_back(line);
        if (answers.size() != requests.size())
            throw std::runtime_error("the probe answered " + std::to_string(answers.size()) +
                                     " of " + std::to_string(requests.size()) +
                                     " requests: " + ReadWholeFile(logFile));
        return answers;
    }

    // Checks one row: equal, or different for its documented choice.
    static void Compare(const std::string &row, const std::string &ours, const std::string &windows,
                        const char *choice)
    {
        if (!choice)
            EXPECT_EQ(Visible(ours), Visible(windows)) << row;
        else
            EXPECT_NE(ours, windows)
                << row << ": marked \"" << choice << "\" but agrees; remove the mark";
    }

    TempFolder folder_;
};

TEST_F(ReadersVsWindows, IniLookupsAgreeWithGetPrivateProfileString)
{
    const std::vector<IniCase> cases = IniCases();
    std::vector<std::string> requests;
    for (size_t i = 0; i < cases.size(); ++i) {
        const auto path = folder_.Write("i" + std::to_string(i) + ".ini", cases[i].file);
        requests.push_back("ini " + ToHex(WindowsPath(path)) + " " + ToHex(cases[i].section) + " " +
                           ToHex(cases[i].key));
    }
    const std::vector<std::string> answers = AskWindows(requests);
    for (size_t i = 0; i < cases.size(); ++i) {
        const IniCase &c = cases[i];
        std::istringstream fields(answers[i]);
        std::string a, w;
        fields >> a >> w;
        // A UTF-16 file is compared with the wide function; an 8-bit one with the bytes the
        // 8-bit function hands out, read as text the way the tool reads the system code page.
        const bool utf16 = c.file.starts_with("\xFF\xFE") || c.file.starts_with("\xFE\xFF");
        const std::string windows = utf16 ? FromHex(w) : ToUtf8(FromHex(a));
        const std::string path = (folder_.Path() / ("i" + std::to_string(i) + ".ini")).string();
        const std::string ours = ReadIniString(c.section, c.key, "<none>", path);
        Compare("ini row " + std::to_string(i) + " [" + Visible(c.file.substr(0, 60)) + "]", ours,
                windows, c.choice);
    }
}

std::string RegFileBytes(Format format, const std::string &lines)
{
    if (format == Format::V4)
        return "REGEDIT4\r\n\r\n" + lines;
    std::string crlf;
    for (char c : "Windows Registry Editor Version 5.00\n\n" + lines)
        crlf += c == '\n' ? "\r\n"s : std::string(1, c);
    return Utf16File(crlf);
}

// Our answer in the probe's form: "nokey", "novalue" or "TYPE DATA".
std::string OurRegAnswer(const std::string &store, const std::string &key, const std::string &name)
{
    RegFileRegistry registry(store);
    RegKey handle = kNoRegKey;
    if (!registry.OpenKey(key, handle))
        return "nokey";
    uint32_t type = 0, size = 0;
    std::string data;
    std::string answer = "novalue";
    if (registry.QueryValueInfo(handle, name, type, size) &&
        registry.QueryValueData(handle, name, size, type, data))
        answer = std::to_string(type) + " " + ToHex(data);
    registry.CloseKey(handle);
    return answer;
}

TEST_F(ReadersVsWindows, StoreReadsAgreeWithTheRegistryEditorsImport)
{
    const std::vector<RegCase> cases = RegCases();
    const std::string root = "Software\\kxdiff";
    std::vector<std::string> requests = {"reset " + ToHex(root)};
    std::vector<std::string> keys;
    for (size_t i = 0; i < cases.size(); ++i) {
        const std::string own = root + "\\" + std::to_string(i);
        std::string lines = cases[i].lines;
        for (size_t at = lines.find('@'); at != std::string::npos; at = lines.find('@', at))
            lines.replace(at, 1, "HKEY_LOCAL_MACHINE\\" + own);
        std::string crlf;
        for (char c : lines)
            crlf += c == '\n' ? "\r\n"s : std::string(1, c);
        const auto path = folder_.Write(
            "r" + std::to_string(i) + ".reg",
            RegFileBytes(cases[i].format, cases[i].format == Format::V4 ? crlf : lines));
        requests.push_back("import " + ToHex(WindowsPath(path)));
        keys.push_back(*cases[i].key ? own + "\\" + cases[i].key : own);
    }
    for (size_t i = 0; i < cases.size(); ++i)
        requests.push_back("reg " + ToHex(keys[i]) + " " + ToHex(cases[i].name));
    const std::vector<std::string> answers = AskWindows(requests);
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(answers[1 + i], "0") << "the registry editor refused row " << i;
    for (size_t i = 0; i < cases.size(); ++i) {
        const RegCase &c = cases[i];
        std::istringstream fields(answers[1 + cases.size() + i]);
        std::string a, w;
        fields >> a >> w;
        // A UTF-16 store is compared with the wide functions; an 8-bit one with the 8-bit
        // functions' bytes, string data read as text of the system code page.
        const std::string &side = c.format == Format::V5 ? w : a;
        std::string windows = side;
        if (const size_t colon = side.find(':'); colon != std::string::npos) {
            const uint32_t type = static_cast<uint32_t>(std::stoul(side.substr(0, colon)));
            std::string data = FromHex(side.substr(colon + 1));
            if (c.format == Format::V4 &&
                (type == kRegSz || type == kRegExpandSz || type == kRegMultiSz))
                data = ToUtf8(data);
            windows = std::to_string(type) + " " + ToHex(data);
        }
        const std::string store = (folder_.Path() / ("r" + std::to_string(i) + ".reg")).string();
        // Our store serves the local machine root; the row's own key is below it.
        const std::string ours = OurRegAnswer(store, keys[i], c.name);
        Compare("reg row " + std::to_string(i) + " [" + Visible(c.lines) + "] " + c.key + " " +
                    c.name,
                ours, windows, c.choice);
    }
}

TEST_F(ReadersVsWindows, CommandLinesSplitAsCommandLineToArgvW)
{
    const std::vector<ArgvCase> cases = ArgvCases();
    std::vector<std::string> requests;
    for (const ArgvCase &c : cases)
        requests.push_back("argv " + ToHex(c.line));
    const std::vector<std::string> answers = AskWindows(requests);
    for (size_t i = 0; i < cases.size(); ++i) {
        std::istringstream fields(answers[i]);
        std::string count;
        fields >> count;
        std::string windows;
        for (std::string arg; fields >> arg;)
            windows += "[" + FromHex(arg) + "]";
        std::string ours;
        for (const std::string &arg : SplitWindowsCommandLine(cases[i].line))
            ours += "[" + arg + "]";
        Compare("argv row " + std::to_string(i) + " " + cases[i].line, ours, windows,
                cases[i].choice);
    }
}

} // namespace

} // namespace offline_upgrade
