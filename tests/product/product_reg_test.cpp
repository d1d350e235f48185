#include "product/product_reg.h"

#include "platform/error.h"
#include "platform/posix/registry_posix.h"
#include "tests/support/temp_folder.h"
#include "tests/support/unprivileged.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <set>
#include <vector>

namespace {

using namespace std::string_literals;

const char kClientTemplate[] = "\\Software\\vazerodu\\kx_product_code\\ClientConfigure";
const char kAppTemplate[] = "\\Software\\vazerodu\\kx_product_code\\ApplicationPath";

// "a" -> "61,00": bytes as a hex list for hex(N): data.
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

// Passes every call to a real store and records what the read asks for. It can fail the data
// read of one value name, and counts the keys left open.
class RecordingRegistry : public IRegistry {
public:
    explicit RecordingRegistry(IRegistry &inner) : inner_(inner) {}

    bool OpenKey(const std::string &subKey, RegKey &key) override
    {
        Record("open " + subKey);
        const bool ok = inner_.OpenKey(subKey, key);
        return Track(ok, key);
    }
    bool CreateKey(const std::string &subKey, RegKey &key) override
    {
        Record("create " + subKey);
        const bool ok = inner_.CreateKey(subKey, key);
        return Track(ok, key);
    }
    bool QueryValueInfo(RegKey key, const std::string &name, uint32_t &type,
                        uint32_t &size) override
    {
        return inner_.QueryValueInfo(key, name, type, size);
    }
    bool QueryValueData(RegKey key, const std::string &name, uint32_t capacity, uint32_t &type,
                        std::string &data) override
    {
        if (name == failDataOf)
            return false;
        return inner_.QueryValueData(key, name, capacity, type, data);
    }
    void CloseKey(RegKey key) override
    {
        open.erase(key);
        inner_.CloseKey(key);
    }

    std::string failDataOf = "\x01"; // no value is called that
    std::vector<std::string> calls;
    std::vector<std::string> keyVariables; // both key variables at each open, "|" between
    std::set<RegKey> open;

private:
    void Record(const std::string &call)
    {
        calls.push_back(call);
        keyVariables.push_back(ClientConfigureKey + "|" + ApplicationPathKey);
    }
    bool Track(bool ok, RegKey key)
    {
        if (ok)
            open.insert(key);
        return ok;
    }
    IRegistry &inner_;
};

const char kConfigAbc[] = R"([HKEY_LOCAL_MACHINE\Software\vazerodu\ABC\ClientConfigure]
"Version"="5"
"Build"="5.0.1234"
"ServerName"="db01"
"DBaseName"="kxdata"
"UserName"="sa"
"PassWord"="c2VjcmV0"
)";
const char kAppAbc[] = R"([HKEY_LOCAL_MACHINE\Software\vazerodu\ABC\ApplicationPath]
"Path"="/opt/abc/"
)";

T_ProductReg Full(const std::string &path)
{
    return {"ABC", path, "5", "5.0.1234", "db01", "kxdata", "sa", "c2VjcmV0"};
}

class ProductRegTest : public ::testing::Test {
protected:
    std::string Store() const { return (folder.Path() / "registry.reg").string(); }
    void WriteStore(const std::string &body) const
    {
        folder.Write("registry.reg", "REGEDIT4\n\n" + body);
    }
    bool KeyExists(const std::string &subKey)
    {
        RegKey key = kNoRegKey;
        const bool ok = store.OpenKey(subKey, key);
        store.CloseKey(key);
        return ok;
    }
    void ExpectTemplates(const std::string &where) const
    {
        EXPECT_EQ(ClientConfigureKey, kClientTemplate) << where;
        EXPECT_EQ(ApplicationPathKey, kAppTemplate) << where;
    }

    TempFolder folder;
    RegFileRegistry store{Store()};
};

TEST_F(ProductRegTest, ReadsTheRegistration)
{
    const std::string expand = "%SystemRoot%\\App";
    struct Case {
        std::string body;
        T_ProductReg expected;
    };
    const Case cases[] = {
        // Both keys present.
        {std::string(kConfigAbc) + kAppAbc, Full("/opt/abc/")},
        // Names match without regard to case; the configuration key alone.
        {R"([HKEY_LOCAL_MACHINE\SOFTWARE\Vazerodu\ABC\clientconfigure]
"version"="5"
"BUILD"="5.0.1234"
"servername"="db01"
"DBASENAME"="kxdata"
"username"="sa"
"password"="c2VjcmV0"
)",
         Full("")},
        // Application path only: not installed, but the folder is read.
        {kAppAbc, {"", "/opt/abc/", "", "", "", "", "", ""}},
        // Nothing at all.
        {"", {}},
        // The key is there, its values are not, or are empty.
        {"[HKEY_LOCAL_MACHINE\\Software\\vazerodu\\ABC\\ClientConfigure]\n\"Version\"=\"\"\n"
         "\"Build\"=hex(1):\n",
         {"ABC", "", "", "", "", "", "", ""}},
        // A zero byte inside a string ends it.
        {"[HKEY_LOCAL_MACHINE\\Software\\vazerodu\\ABC\\ClientConfigure]\n\"Build\"=hex(1):" +
             HexList("5.0\0"
                     "999\0"s) +
             "\n",
         {"ABC", "", "", "5.0", "", "", "", ""}},
        // An expandable string is taken unexpanded.
        {"[HKEY_LOCAL_MACHINE\\Software\\vazerodu\\ABC\\ApplicationPath]\n\"Path\"=hex(2):" +
             HexList(expand + '\0') + "\n",
         {"", expand, "", "", "", "", "", ""}},
        // Another product's keys are not read.
        {"[HKEY_LOCAL_MACHINE\\Software\\vazerodu\\ABCD\\ClientConfigure]\n\"Version\"=\"9\"\n",
         {}},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        WriteStore(cases[i].body);
        T_ProductReg result{"stale", "stale", "stale", "stale", "stale", "stale", "stale", "x"};
        ReadProductReg(store, "ABC", result);
        EXPECT_EQ(result, cases[i].expected) << "case " << i;
        // The application-path key exists afterwards in every case.
        EXPECT_TRUE(KeyExists("Software\\vazerodu\\ABC\\ApplicationPath")) << "case " << i;
        ExpectTemplates("case " + std::to_string(i));
    }
}

TEST_F(ProductRegTest, ExportedUnicodeStore)
{
    // The v5 format as exported: UTF-16LE with a byte-order mark, hex(2) in UTF-16LE.
    const std::u16string text =
        u"Windows Registry Editor Version 5.00\r\n\r\n"
        u"[HKEY_LOCAL_MACHINE\\Software\\vazerodu\\ABC\\ClientConfigure]\r\n"
        u"\"Version\"=\"5\"\r\n\"Build\"=\"5.0.1234\"\r\n\"UserName\"=\"管理员\"\r\n\r\n"
        u"[HKEY_LOCAL_MACHINE\\Software\\vazerodu\\ABC\\ApplicationPath]\r\n"
        u"\"Path\"=hex(2):25,00,41,00,25,00,2f,00,00,00\r\n\r\n";
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    folder.Write("registry.reg", bytes);
    T_ProductReg result;
    ReadProductReg(store, "ABC", result);
    EXPECT_EQ(result, (T_ProductReg{"ABC", "%A%/", "5", "5.0.1234", "", "", "管理员", ""}));
    EXPECT_EQ(ReadWholeFile(Store()), bytes);
}

TEST_F(ProductRegTest, ConfigurationWithoutApplicationPathCreatesTheKeyAndKeepsTheFile)
{
    const std::string before = "REGEDIT4\n\n; installed by hand\n" + std::string(kConfigAbc);
    folder.Write("registry.reg", before);
    T_ProductReg result;
    ReadProductReg(store, "ABC", result);
    EXPECT_EQ(result, Full(""));
    EXPECT_EQ(ReadWholeFile(Store()),
              before + "\n[HKEY_LOCAL_MACHINE\\Software\\vazerodu\\ABC\\ApplicationPath]\n\n");
}

TEST_F(ProductRegTest, NonStringValueEndsTheReadWithItsName)
{
    struct Case {
        std::string line; // replaces the string value of the same name
        std::string message;
        T_ProductReg expected; // what was read before the error
    };
    const Case cases[] = {
        {"\"Build\"=dword:00001234",
         "Invalid data type for 'Build'",
         {"ABC", "", "5", "", "", "", "", ""}},
        {"\"PassWord\"=hex:63,32",
         "Invalid data type for 'PassWord'",
         {"ABC", "", "5", "5.0.1234", "db01", "kxdata", "sa", ""}},
        {"\"ServerName\"=hex(7):61,00,00",
         "Invalid data type for 'ServerName'",
         {"ABC", "", "5", "5.0.1234", "", "", "", ""}},
        {"\"Version\"=hex(b):05,00,00,00,00,00,00,00",
         "Invalid data type for 'Version'",
         {"ABC", "", "", "", "", "", "", ""}},
        {"\"Path\"=dword:00000001", "Invalid data type for 'Path'", Full("")},
        // A pinned key that cannot be read fails the read: the scan then passes the package
        // over rather than take it unverified.
        {"\"PackageKey\"=hex:52,57", "Invalid data type for 'PackageKey'", Full("")},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        // The line goes last into the key that holds its value, so it wins over the string
        // of the same name.
        const bool inAppKey = cases[i].line.starts_with("\"Path\"");
        WriteStore(inAppKey ? std::string(kConfigAbc) + kAppAbc + cases[i].line + "\n"
                            : std::string(kAppAbc) + kConfigAbc + cases[i].line + "\n");
        RecordingRegistry registry(store);
        T_ProductReg result;
        try {
            ReadProductReg(registry, "ABC", result);
            ADD_FAILURE() << "case " << i << ": no error";
        } catch (const KxError &e) {
            EXPECT_EQ(std::string(e.what()), cases[i].message) << "case " << i;
        }
        EXPECT_EQ(result, cases[i].expected) << "case " << i;
        EXPECT_TRUE(registry.open.empty()) << "case " << i;
        ExpectTemplates("case " + std::to_string(i));
    }
}

TEST_F(ProductRegTest, FailedDataReadEndsTheReadWithItsName)
{
    struct Case {
        const char *name;
        T_ProductReg expected;
    };
    const Case cases[] = {
        {"Version", {"ABC", "", "", "", "", "", "", ""}},
        {"UserName", {"ABC", "", "5", "5.0.1234", "db01", "kxdata", "", ""}},
        {"Path", Full("")},
    };
    WriteStore(std::string(kConfigAbc) + kAppAbc);
    for (size_t i = 0; i < std::size(cases); ++i) {
        RecordingRegistry registry(store);
        registry.failDataOf = cases[i].name;
        T_ProductReg result;
        try {
            ReadProductReg(registry, "ABC", result);
            ADD_FAILURE() << "case " << i << ": no error";
        } catch (const KxError &e) {
            EXPECT_EQ(std::string(e.what()), "Failed to get data for '"s + cases[i].name + "'")
                << "case " << i;
        }
        EXPECT_EQ(result, cases[i].expected) << "case " << i;
        EXPECT_TRUE(registry.open.empty()) << "case " << i;
        ExpectTemplates("case " + std::to_string(i));
    }
}

TEST_F(ProductRegTest, TwoReadsInARowOpenOnlyTheirOwnKeys)
{
    WriteStore(std::string(kConfigAbc) + kAppAbc);
    RecordingRegistry registry(store);
    T_ProductReg abc;
    T_ProductReg xyz;
    ReadProductReg(registry, "ABC", abc);
    ExpectTemplates("after ABC");
    ReadProductReg(registry, "XYZ", xyz);
    ExpectTemplates("after XYZ");

    EXPECT_EQ(abc, Full("/opt/abc/"));
    EXPECT_EQ(xyz, T_ProductReg{});
    const std::vector<std::string> calls = {
        "open Software\\vazerodu\\ABC\\ClientConfigure",
        "create Software\\vazerodu\\ABC\\ApplicationPath",
        "open Software\\vazerodu\\XYZ\\ClientConfigure",
        "create Software\\vazerodu\\XYZ\\ApplicationPath",
    };
    EXPECT_EQ(registry.calls, calls);
    // During a read both variables hold the product's paths.
    const std::string abcPaths =
        "\\Software\\vazerodu\\ABC\\ClientConfigure|\\Software\\vazerodu\\ABC\\ApplicationPath";
    const std::string xyzPaths =
        "\\Software\\vazerodu\\XYZ\\ClientConfigure|\\Software\\vazerodu\\XYZ\\ApplicationPath";
    EXPECT_EQ(registry.keyVariables,
              (std::vector<std::string>{abcPaths, abcPaths, xyzPaths, xyzPaths}));
    EXPECT_TRUE(registry.open.empty());
    EXPECT_TRUE(KeyExists("Software\\vazerodu\\XYZ\\ApplicationPath"));
}

TEST_F(ProductRegTest, ReadOnlyStoreShowsTheProductAsNotInstalled)
{
    const std::string before = "REGEDIT4\n\n" + std::string(kConfigAbc);
    folder.Write("registry.reg", before);
    ASSERT_EQ(chmod(folder.Path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(Store().c_str(), 0444), 0);
    const std::string fields = RunUnprivileged([&] {
        RegFileRegistry registry(Store());
        T_ProductReg result{"stale", "stale", "", "", "", "", "", ""};
        ReadProductReg(registry, "ABC", result);
        return result.ProductCode + "|" + result.Path + "|" + result.Version + "|" + result.Build;
    });
    EXPECT_EQ(fields, "|||");
    EXPECT_EQ(ReadWholeFile(Store()), before);
}

} // namespace
