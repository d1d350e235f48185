#include "platform/posix/registry_posix.h"

#include "tests/support/temp_folder.h"
#include "tests/support/unprivileged.h"

#include <gtest/gtest.h>

#include <iconv.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <stdexcept>

namespace offline_upgrade {

namespace {

using namespace std::string_literals;

std::string Convert(const std::string &text, const char *to)
{
    iconv_t cd = iconv_open(to, "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error("iconv_open");
    std::string in = text;
    std::string out(text.size() * 4 + 8, '\0');
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

std::string Utf16(const std::string &text)
{
    return Convert(text, "UTF-16LE");
}

// "a" -> "61,00" style hex list of the bytes.
std::string HexList(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty())
            out += ',';
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

enum class Format { V4Lf, V4CrLf, V5 };
const char *FormatName(Format f)
{
    return f == Format::V4Lf ? "REGEDIT4/LF" : f == Format::V4CrLf ? "REGEDIT4/CRLF" : "v5";
}

// A store file in the given format from lines written with "\n".
std::string StoreBytes(Format format, const std::string &body)
{
    std::string text =
        (format == Format::V5 ? "Windows Registry Editor Version 5.00\n\n"s : "REGEDIT4\n\n"s) +
        body;
    if (format == Format::V4Lf)
        return text;
    std::string crlf;
    for (char c : text)
        crlf += c == '\n' ? "\r\n"s : std::string(1, c);
    return format == Format::V5 ? "\xFF\xFE"s + Utf16(crlf) : crlf;
}

struct Read {
    uint32_t Type;
    std::string Data;
};

std::optional<Read> ReadValue(IRegistry &registry, const std::string &subKey,
                              const std::string &name)
{
    RegKey key = kNoRegKey;
    if (!registry.OpenKey(subKey, key))
        return std::nullopt;
    Read read{};
    uint32_t size = 0;
    std::optional<Read> result;
    if (registry.QueryValueInfo(key, name, read.Type, size) &&
        registry.QueryValueData(key, name, size, read.Type, read.Data) && read.Data.size() == size)
        result = read;
    registry.CloseKey(key);
    return result;
}

bool KeyExists(IRegistry &registry, const std::string &subKey)
{
    RegKey key = kNoRegKey;
    const bool ok = registry.OpenKey(subKey, key);
    registry.CloseKey(key);
    return ok;
}

const char kConfig[] = "Software\\vazerodu\\ABC\\ClientConfigure";
const char kAppPath[] = "Software\\vazerodu\\ABC\\ApplicationPath";

// One store that shows the value syntax, comments, bad lines, other roots and merged sections.
const char kBody[] = R"([HKEY_LOCAL_MACHINE\Software\vazerodu\ABC\ClientConfigure]
"Version"="5"
"Build"="5.0.1234"
"Quote"="say \"hi\" C:\\dir\\"
"Raw"="C:\Program Files"
@="default"
"Num"=dword:0000001f
"Bin"=hex:01,02,\
  ff
"Q"=hex(b):01,00,00,00,00,00,00,00
"Multi"=hex(7):
"Empty"=""
"EmptyBin"=hex:
; "Commented"="x"
"Broken"="unterminated
"BadHex"=hex:1,zz
"BadDword"=dword:123456789
"Trailing"="x" junk
this line means nothing
"After"="still read"
"Dup"="first"
"DUP"="second"
  "Spaced" = "blanks"
"中文"="汉字值"
[HKEY_LOCAL_MACHINE\Software\vazerodu\ABC\Unclosed
"Swallowed"="x"

[HKEY_CURRENT_USER\Software\vazerodu\ABC\ClientConfigure]
"Other"="root"

[HKEY_LOCAL_MACHINE\Software\vazerodu\ABC\ClientConfigure\Sub]
"Deep"="d"

[HKEY_LOCAL_MACHINE\Software\bad\\path]
"Lost"="x"

[HKEY_LOCAL_MACHINE\Software\vazerodu\ABC\ClientConfigure]
"Late"="merged"
)";

class RegistryStore : public ::testing::Test {
protected:
    std::string Store() const { return (folder.Path() / "registry.reg").string(); }
    void WriteStore(const std::string &bytes) const { folder.Write("registry.reg", bytes); }
    std::string StoreContent() const { return ReadWholeFile(Store()); }

    TempFolder folder;
};

TEST_F(RegistryStore, ReadsValuesInEveryFormat)
{
    struct Case {
        const char *key;
        const char *name;
        bool found;
        uint32_t type;
        std::string data;
    };
    const std::string sub = std::string(kConfig) + "\\Sub";
    const Case cases[] = {
        {kConfig, "Version", true, kRegSz, "5\0"s},
        {"software\\VAZERODU\\abc\\clientconfigure", "bUILD", true, kRegSz, "5.0.1234\0"s},
        {kConfig, "Quote", true, kRegSz, "say \"hi\" C:\\dir\\\0"s},
        {kConfig, "Raw", true, kRegSz, "C:\\Program Files\0"s},
        {kConfig, "", true, kRegSz, "default\0"s},
        {kConfig, "Num", true, kRegDword, "\x1f\0\0\0"s},
        {kConfig, "Bin", true, kRegBinary, "\x01\x02\xff"s},
        {kConfig, "Q", true, kRegQword, "\x01\0\0\0\0\0\0\0"s},
        {kConfig, "Multi", true, kRegMultiSz, ""},
        {kConfig, "Empty", true, kRegSz, "\0"s},
        {kConfig, "EmptyBin", true, kRegBinary, ""},
        {kConfig, "Commented", false, 0, ""},
        {kConfig, "Broken", false, 0, ""},
        {kConfig, "BadHex", false, 0, ""},
        {kConfig, "BadDword", false, 0, ""},
        {kConfig, "Trailing", false, 0, ""},
        {kConfig, "After", true, kRegSz, "still read\0"s},
        {kConfig, "dup", true, kRegSz, "second\0"s},
        {kConfig, "Spaced", true, kRegSz, "blanks\0"s},
        {kConfig, "中文", true, kRegSz, "汉字值\0"s},
        {kConfig, "Swallowed", false, 0, ""},
        {kConfig, "Other", false, 0, ""},
        {kConfig, "Deep", false, 0, ""},
        {sub.c_str(), "Deep", true, kRegSz, "d\0"s},
        {kConfig, "Late", true, kRegSz, "merged\0"s},
        {"Software\\bad\\path", "Lost", true, kRegSz, "x\0"s},
        {kAppPath, "Path", false, 0, ""},
    };
    for (Format format : {Format::V4Lf, Format::V4CrLf, Format::V5}) {
        WriteStore(StoreBytes(format, kBody));
        RegFileRegistry registry(Store());
        for (size_t i = 0; i < std::size(cases); ++i) {
            const Case &c = cases[i];
            const auto read = ReadValue(registry, c.key, c.name);
            ASSERT_EQ(read.has_value(), c.found) << FormatName(format) << " case " << i;
            if (read) {
                EXPECT_EQ(read->Type, c.type) << FormatName(format) << " case " << i;
                EXPECT_EQ(read->Data, c.data) << FormatName(format) << " case " << i;
            }
        }
    }
}

// What the registry editor makes of lines an administrator may write by hand: comments after
// the data, hex data over several lines, key lines with extra backslashes or a comment, string
// data without its terminator. Each store is one key with the lines below it.
TEST_F(RegistryStore, ReadsHandWrittenLinesAsTheRegistryEditorImportsThem)
{
    struct Case {
        const char *lines;
        const char *key; // below Software\k
        const char *name;
        bool found;
        uint32_t type;
        std::string data;
    };
    const Case cases[] = {
        // a comment after the data keeps the value
        {"\"Build\"=\"5.0.1234\" ;note\n", "", "Build", true, kRegSz, "5.0.1234\0"s},
        {"\"B\"=\"x;y\";note\n", "", "B", true, kRegSz, "x;y\0"s},
        {"\"D\"=dword:00000004 ;note\n", "", "D", true, kRegDword, "\x04\0\0\0"s},
        {"\"D\"=dword:4;note\n", "", "D", true, kRegDword, "\x04\0\0\0"s},
        {"\"H\"=hex:01,02 ;note\n", "", "H", true, kRegBinary, "\x01\x02"},
        {"\"H\"=hex:01,02;note\n", "", "H", true, kRegBinary, "\x01\x02"},
        {"\"S\"=\"x\" junk\n", "", "S", false, 0, ""},
        // blanks may follow a comma in hex data, not precede one
        {"\"H\"=hex: 01, 02\n", "", "H", true, kRegBinary, "\x01\x02"},
        {"\"H\"=hex:01 ,02\n", "", "H", false, 0, ""},
        // continuation lines: comments and blank lines in between are skipped
        {"\"H\"=hex:01,02,\\\n; comment\n  03\n", "", "H", true, kRegBinary, "\x01\x02\x03"},
        {"\"H\"=hex:01,02,\\\n\n  03\n", "", "H", true, kRegBinary, "\x01\x02\x03"},
        {"\"H\"=hex:01,\\ ;c\n ; line\n  02 ;c2\n", "", "H", true, kRegBinary, "\x01\x02"},
        {"\"H\"=hex:\\\n  01\n", "", "H", true, kRegBinary, "\x01"},
        {"\"H\"=hex:01,\\\n", "", "H", true, kRegBinary, "\x01"},
        {"\"H\"=hex:01,\\\n\n", "", "H", true, kRegBinary, "\x01"},
        // a backslash after no comma spoils the value, and the next line is read on its own
        {"\"H\"=hex:01,02\\\n\"N\"=\"next\"\n", "", "H", false, 0, ""},
        {"\"H\"=hex:01,02\\\n\"N\"=\"next\"\n", "", "N", true, kRegSz, "next\0"s},
        {"\"H\"=hex:01,02 \\\n  03\n", "", "H", false, 0, ""},
        {"\"H\"=hex:01,\\\n  \\\n  02\n", "", "H", false, 0, ""},
        // the line after ",\" is data whatever it holds
        {"\"H\"=hex:01,\\\n\"N\"=\"next\"\n", "", "N", false, 0, ""},
        {"\"H\"=hex:01,\\\n[HKEY_LOCAL_MACHINE\\Software\\k\\sub]\n\"N\"=\"n\"\n", "", "N", true,
         kRegSz, "n\0"s},
        {"\"H\"=hex:01,\\\n[HKEY_LOCAL_MACHINE\\Software\\k\\sub]\n\"N\"=\"n\"\n", "sub", "N",
         false, 0, ""},
        // key lines: extra backslashes are dropped, a comment may follow
        {"[HKEY_LOCAL_MACHINE\\Software\\k\\k2\\]\n\"V\"=\"2\"\n", "k2", "V", true, kRegSz, "2\0"s},
        {"[HKEY_LOCAL_MACHINE\\Software\\k\\\\\\k1]\n\"V\"=\"1\"\n", "k1", "V", true, kRegSz,
         "1\0"s},
        {"[HKEY_LOCAL_MACHINE\\Software\\k\\k4] ;c\n\"V\"=\"4\"\n", "k4", "V", true, kRegSz,
         "4\0"s},
        {"[HKEY_LOCAL_MACHINE\\Software\\k\\a]b]\n\"V\"=\"ab\"\n", "a]b", "V", true, kRegSz,
         "ab\0"s},
        // string data in hex gets its terminator when it lacks one
        {"\"E\"=hex(2):41,42\n", "", "E", true, kRegExpandSz, "AB\0"s},
        {"\"E\"=hex(2):41,42,00\n", "", "E", true, kRegExpandSz, "AB\0"s},
        {"\"M\"=hex(7):41,00,42\n", "", "M", true, kRegMultiSz, "A\0B\0"s},
        {"\"M\"=hex(7):41,00,42,00,00\n", "", "M", true, kRegMultiSz, "A\0B\0\0"s},
        {"\"S\"=hex(1):41\n", "", "S", true, kRegSz, "A\0"s},
        {"\"E\"=hex(2):\n", "", "E", true, kRegExpandSz, ""},
        {"\"B\"=hex:41\n", "", "B", true, kRegBinary, "A"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        WriteStore(StoreBytes(Format::V4CrLf, "[HKEY_LOCAL_MACHINE\\Software\\k]\n"s + c.lines));
        RegFileRegistry registry(Store());
        const std::string key = *c.key ? "Software\\k\\"s + c.key : "Software\\k"s;
        const auto read = ReadValue(registry, key, c.name);
        EXPECT_EQ(read.has_value(), c.found) << "case " << i;
        if (read && c.found) {
            EXPECT_EQ(read->Type, c.type) << "case " << i;
            EXPECT_EQ(read->Data, c.data) << "case " << i;
        }
    }
}

TEST_F(RegistryStore, KeysExistWithTheirImplicitParents)
{
    struct Case {
        const char *key;
        bool exists;
    };
    const Case cases[] = {
        {"", true},
        {"Software", true},
        {"SOFTWARE\\Vazerodu", true},
        {kConfig, true},
        {"Software\\vazerodu\\ABC\\ClientConfigure\\sub", true},
        {"Software\\vazerodu\\ABC\\Client", false},
        {kAppPath, false},
        {"Software\\bad", true},
        {"Software\\bad\\path", true},
        {"Software\\vazerodu\\ABC\\Clients", false},
        {"Software\\vazerodu\\ABC\\Unclosed", false},
        {"Software\\", false},
        {"Software\\\\vazerodu", false},
        {"\\Software", false},
    };
    WriteStore(StoreBytes(Format::V4Lf, kBody));
    RegFileRegistry registry(Store());
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(KeyExists(registry, cases[i].key), cases[i].exists) << "case " << i;
}

TEST_F(RegistryStore, StringDataInHexIsReadAsSystemText)
{
    // hex(2) and hex(1) hold UTF-16LE in the v5 format and 8-bit text in REGEDIT4.
    const std::string expand = "%SystemRoot%\\App";
    const std::string v5 =
        "[HKEY_LOCAL_MACHINE\\Software\\k]\n\"E\"=hex(2):" + HexList(Utf16(expand + '\0')) +
        "\n\"S\"=hex(1):" + HexList(Utf16("中文\0"s)) + "\n";
    const std::string v4 =
        "[HKEY_LOCAL_MACHINE\\Software\\k]\n\"E\"=hex(2):" + HexList(expand + '\0') +
        "\n\"S\"=hex(1):" + HexList(Convert("中文\0"s, "GB18030")) + "\n";
    struct Case {
        Format format;
        const std::string &body;
    };
    const Case cases[] = {{Format::V5, v5}, {Format::V4CrLf, v4}};
    for (size_t i = 0; i < std::size(cases); ++i) {
        WriteStore(StoreBytes(cases[i].format, cases[i].body));
        RegFileRegistry registry(Store());
        const auto e = ReadValue(registry, "Software\\k", "E");
        const auto s = ReadValue(registry, "Software\\k", "S");
        ASSERT_TRUE(e && s) << "case " << i;
        EXPECT_EQ(e->Type, kRegExpandSz) << "case " << i;
        EXPECT_EQ(e->Data, expand + '\0') << "case " << i;
        EXPECT_EQ(s->Type, kRegSz) << "case " << i;
        EXPECT_EQ(s->Data, "中文\0"s) << "case " << i;
    }
}

TEST_F(RegistryStore, Gb18030StoreIsReadAsUtf8)
{
    WriteStore(
        Convert("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\产品]\r\n\"名称\"=\"朔方\"\r\n",
                "GB18030"));
    RegFileRegistry registry(Store());
    const auto read = ReadValue(registry, "Software\\产品", "名称");
    ASSERT_TRUE(read);
    EXPECT_EQ(read->Data, "朔方\0"s);
}

TEST_F(RegistryStore, DataReadFailsWhenItDoesNotFitOrTheKeyIsClosed)
{
    WriteStore(StoreBytes(Format::V4Lf, kBody));
    RegFileRegistry registry(Store());
    RegKey key = kNoRegKey;
    ASSERT_TRUE(registry.OpenKey(kConfig, key));
    uint32_t type = 0;
    std::string data;
    EXPECT_FALSE(registry.QueryValueData(key, "Version", 1, type, data));
    EXPECT_TRUE(registry.QueryValueData(key, "Version", 2, type, data));
    EXPECT_FALSE(registry.QueryValueData(key, "Missing", 100, type, data));
    registry.CloseKey(key);
    EXPECT_FALSE(registry.QueryValueData(key, "Version", 2, type, data));
}

TEST_F(RegistryStore, CreatingAKeyAppendsItAndKeepsEveryOtherByte)
{
    const std::string section = "[HKEY_LOCAL_MACHINE\\Software\\vazerodu\\ABC\\ApplicationPath]";
    const std::string exported = "Windows Registry Editor Version 5.00\r\n\r\n"
                                 "[HKEY_LOCAL_MACHINE\\Software\\x]\r\n\"a\"=\"b\"\r\n\r\n";
    struct Case {
        std::string before;
        std::string appended;
    };
    const Case cases[] = {
        // LF, ending in one line end: a blank line goes in first.
        {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\x]\n\"a\"=\"b\"\n", "\n" + section + "\n\n"},
        // CR LF, no line end at the end, a comment and a line nobody understands.
        {"REGEDIT4\r\n; note\r\ngarbage ]] \"=\r\n\"a\"=hex:01,\\\r\n  02",
         "\r\n\r\n" + section + "\r\n\r\n"},
        // Ends in a blank line already; CR-only line ends.
        {"REGEDIT4\r\r[HKEY_LOCAL_MACHINE\\Software\\x]\r\r", section + "\r\r"},
        // UTF-8 byte-order mark and no header at all.
        {"\xEF\xBB\xBF[HKEY_LOCAL_MACHINE\\Software\\x]\n", "\n" + section + "\n\n"},
        // Not UTF-8: GB18030, kept in its own encoding.
        {Convert("REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\中]\n", "GB18030"),
         "\n" + section + "\n\n"},
        // Exported v5: UTF-16LE with a byte-order mark.
        {"\xFF\xFE"s + Utf16(exported), Utf16(section + "\r\n\r\n")},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        WriteStore(cases[i].before);
        RegFileRegistry registry(Store());
        RegKey key = kNoRegKey;
        ASSERT_TRUE(registry.CreateKey(kAppPath, key)) << "case " << i;
        uint32_t type = 0, size = 0;
        EXPECT_FALSE(registry.QueryValueInfo(key, "Path", type, size)) << "case " << i;
        registry.CloseKey(key);
        EXPECT_EQ(StoreContent(), cases[i].before + cases[i].appended) << "case " << i;
        EXPECT_TRUE(KeyExists(registry, kAppPath)) << "case " << i;
    }
}

TEST_F(RegistryStore, CreatingAnExistingKeyLeavesTheFileAlone)
{
    WriteStore(StoreBytes(Format::V4CrLf, kBody));
    struct stat before {};
    ASSERT_EQ(stat(Store().c_str(), &before), 0);
    RegFileRegistry registry(Store());
    RegKey key = kNoRegKey;
    // Parents are implicit: "Software\vazerodu" has no section of its own but exists.
    for (const char *path : {kConfig, "software\\VAZERODU"}) {
        ASSERT_TRUE(registry.CreateKey(path, key)) << path;
        registry.CloseKey(key);
    }
    struct stat after {};
    ASSERT_EQ(stat(Store().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(StoreContent(), StoreBytes(Format::V4CrLf, kBody));
}

TEST_F(RegistryStore, MissingStoreIsCreatedWithItsFolderInTheExportedFormat)
{
    const std::string store = (folder.Path() / "etc" / "kx" / "registry.reg").string();
    RegFileRegistry registry(store);
    EXPECT_FALSE(KeyExists(registry, kAppPath));
    RegKey key = kNoRegKey;
    ASSERT_TRUE(registry.CreateKey(kAppPath, key));
    registry.CloseKey(key);
    EXPECT_EQ(ReadWholeFile(store),
              "\xFF\xFE"s + Utf16("Windows Registry Editor Version 5.00\r\n\r\n"
                                  "[HKEY_LOCAL_MACHINE\\Software\\vazerodu\\ABC\\ApplicationPath]"
                                  "\r\n\r\n"));
    struct stat info {};
    ASSERT_EQ(stat(store.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_TRUE(KeyExists(registry, kAppPath));
    EXPECT_TRUE(KeyExists(registry, "Software\\vazerodu"));
}

TEST_F(RegistryStore, RewriteKeepsPermissionsAndLinks)
{
    WriteStore("REGEDIT4\n");
    ASSERT_EQ(chmod(Store().c_str(), 0640), 0);
    const std::string link = (folder.Path() / "link.reg").string();
    ASSERT_EQ(symlink(Store().c_str(), link.c_str()), 0);
    RegFileRegistry registry(link);
    RegKey key = kNoRegKey;
    ASSERT_TRUE(registry.CreateKey(kAppPath, key));
    registry.CloseKey(key);
    struct stat info {};
    ASSERT_EQ(lstat(link.c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    ASSERT_EQ(stat(Store().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    RegFileRegistry direct(Store());
    EXPECT_TRUE(KeyExists(direct, kAppPath));
}

TEST_F(RegistryStore, CreateRefusesWhatCannotBeWrittenSafely)
{
    struct Case {
        std::string store;
        std::string key;
    };
    const Case cases[] = {
        {"\xFF\xFE"s + Utf16("REGEDIT4\r\n") + "x", kAppPath}, // damaged UTF-16: odd length
        {"REGEDIT4\n", "Software\\a\nb"},                      // would split the line
        {"REGEDIT4\n", "Software\\\\a"},                       // empty name
        {"REGEDIT4\n", "Software\\a\\"},
        {"REGEDIT4\n", "Software\\\xff\xfe"}, // not text of the system code page
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        WriteStore(cases[i].store);
        RegFileRegistry registry(Store());
        RegKey key = kNoRegKey;
        EXPECT_FALSE(registry.CreateKey(cases[i].key, key)) << "case " << i;
        EXPECT_EQ(key, kNoRegKey) << "case " << i;
        EXPECT_EQ(StoreContent(), cases[i].store) << "case " << i;
    }
}

TEST_F(RegistryStore, ReadOnlyStoreOpensNoKeyAndIsNotChanged)
{
    const std::string bytes = StoreBytes(Format::V4Lf, kBody);
    WriteStore(bytes);
    // Readable by everyone, writable by no one but root; the folder is root's (or, when the
    // tests do not run as root, the store has no write bit for its owner either).
    ASSERT_EQ(chmod(folder.Path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(Store().c_str(), 0444), 0);
    const std::string result = RunUnprivileged([&] {
        RegFileRegistry registry(Store());
        RegKey key = kNoRegKey;
        std::string r;
        r += ReadWholeFile(Store()) == bytes ? "readable " : "unreadable ";
        r += registry.OpenKey(kConfig, key) ? "opened " : "closed ";
        r += registry.CreateKey(kAppPath, key) ? "created" : "refused";
        return r;
    });
    EXPECT_EQ(result, "readable closed refused");
    EXPECT_EQ(StoreContent(), bytes);
}

TEST_F(RegistryStore, ConcurrentWritersLoseNoKey)
{
    const std::string bytes = StoreBytes(Format::V5, kBody);
    WriteStore(bytes);
    const int perWriter = 20;
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    pid_t writers[2];
    for (int w = 0; w < 2; ++w) {
        writers[w] = fork();
        ASSERT_GE(writers[w], 0);
        if (writers[w] == 0) {
            close(go[1]);
            char c;
            // Both start when the parent closes the pipe.
            while (read(go[0], &c, 1) > 0) {
            }
            RegFileRegistry registry(Store());
            int failed = 0;
            for (int k = 0; k < perWriter; ++k) {
                RegKey key = kNoRegKey;
                const std::string path =
                    "Software\\w" + std::to_string(w) + "\\k" + std::to_string(k);
                failed += registry.CreateKey(path, key) ? 0 : 1;
                registry.CloseKey(key);
            }
            _exit(failed);
        }
    }
    close(go[0]);
    close(go[1]);
    for (pid_t pid : writers) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }
    RegFileRegistry registry(Store());
    for (int w = 0; w < 2; ++w)
        for (int k = 0; k < perWriter; ++k)
            EXPECT_TRUE(
                KeyExists(registry, "Software\\w" + std::to_string(w) + "\\k" + std::to_string(k)))
                << "writer " << w << " key " << k;
    EXPECT_EQ(StoreContent().substr(0, bytes.size()), bytes);
    EXPECT_EQ(ReadValue(registry, kConfig, "Late")->Data, "merged\0"s);
}

TEST(DefaultRegistryStorePath, EnvironmentFirst)
{
    const char *saved = std::getenv("KX_REGISTRY");
    const std::string savedValue = saved ? saved : "";
    setenv("KX_REGISTRY", "/tmp/elsewhere.reg", 1);
    EXPECT_EQ(DefaultRegistryStorePath(), "/tmp/elsewhere.reg");
    setenv("KX_REGISTRY", "", 1);
    EXPECT_EQ(DefaultRegistryStorePath(), "/etc/kx/registry.reg");
    unsetenv("KX_REGISTRY");
    EXPECT_EQ(DefaultRegistryStorePath(), "/etc/kx/registry.reg");
    if (saved)
        setenv("KX_REGISTRY", savedValue.c_str(), 1);
}

} // namespace

} // namespace offline_upgrade
