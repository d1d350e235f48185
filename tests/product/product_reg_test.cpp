// The registration read on the system's own registry: the store file on POSIX, the machine
// registry on Windows (tests/support/test_registrations.h).

#include "product/product_reg.h"

#include "platform/error.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_registrations.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace offline_upgrade {

namespace {

using namespace std::string_literals;

const char kClientTemplate[] = "\\Software\\vazerodu\\kx_product_code\\ClientConfigure";
const char kAppTemplate[] = "\\Software\\vazerodu\\kx_product_code\\ApplicationPath";

// Passes every call to a real registry and records what the read asks for. It can fail the
// data read of one value name, and counts the keys left open.
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

// One value of a product's registration.
struct Value {
    std::string product;
    std::string key;
    std::string name;
    uint32_t type;
    std::string data;
};

Value Config(const std::string &name, const std::string &text)
{
    return {"ABC", "ClientConfigure", name, kRegSz, text};
}

const std::vector<Value> kConfigAbc = {
    Config("Version", "5"),        Config("Build", "5.0.1234"), Config("ServerName", "db01"),
    Config("DBaseName", "kxdata"), Config("UserName", "sa"),    Config("PassWord", "c2VjcmV0"),
};
const std::vector<Value> kAppAbc = {{"ABC", "ApplicationPath", "Path", kRegSz, "/opt/abc/"}};

std::vector<Value> operator+(std::vector<Value> a, const std::vector<Value> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class ProductRegTest : public ::testing::Test {
protected:
    void Register(const std::vector<Value> &values)
    {
        registrations.Clear();
        for (const Value &v : values)
            registrations.Set(v.product, v.key, v.name, v.type, v.data);
    }
    // The registration of ABC with every field, as kConfigAbc holds it.
    T_ProductReg Full(const std::string &path) const
    {
        return {Code(), path, "5", "5.0.1234", "db01", "kxdata", "sa", "c2VjcmV0", ""};
    }
    std::string Code() const { return registrations.Code("ABC"); }
    void ExpectTemplates(const std::string &where) const
    {
        EXPECT_EQ(ClientConfigureKey, kClientTemplate) << where;
        EXPECT_EQ(ApplicationPathKey, kAppTemplate) << where;
    }

    TempFolder folder;
    TestRegistrations registrations{folder.Path()};
    IRegistry &registry = registrations.Registry();
};

TEST_F(ProductRegTest, ReadsTheRegistration)
{
    const std::string expand = "%SystemRoot%\\App";
    const std::string code = Code();
    struct Case {
        const char *what;
        std::vector<Value> values;
        T_ProductReg expected;
    };
    const Case cases[] = {
        {"both keys", kConfigAbc + kAppAbc, Full("/opt/abc/")},
        {"names in other letter case, the configuration key alone",
         {{"ABC", "clientconfigure", "version", kRegSz, "5"},
          {"ABC", "clientconfigure", "BUILD", kRegSz, "5.0.1234"},
          {"ABC", "clientconfigure", "servername", kRegSz, "db01"},
          {"ABC", "clientconfigure", "DBASENAME", kRegSz, "kxdata"},
          {"ABC", "clientconfigure", "username", kRegSz, "sa"},
          {"ABC", "clientconfigure", "password", kRegSz, "c2VjcmV0"}},
         Full("")},
        {"application path only: not installed, but the folder is read",
         kAppAbc,
         {"", "/opt/abc/", "", "", "", "", "", "", ""}},
        {"nothing at all", {}, {}},
        {"the key is there, its values are empty or hold no bytes",
         {Config("Version", "\0"s), Config("Build", "")},
         {code, "", "", "", "", "", "", "", ""}},
        {"a zero byte inside a string ends it",
         {Config("Build", "5.0\0"s
                          "999")},
         {code, "", "", "5.0", "", "", "", "", ""}},
        {"an expandable string is taken unexpanded",
         {{"ABC", "ApplicationPath", "Path", kRegExpandSz, expand}},
         {"", expand, "", "", "", "", "", "", ""}},
        {"text beyond ASCII",
         {Config("UserName", "管理员"), {"ABC", "ApplicationPath", "Path", kRegSz, "/opt/产品/"}},
         {code, "/opt/产品/", "", "", "", "", "管理员", "", ""}},
        {"another product's keys are not read",
         {{"ABCD", "ClientConfigure", "Version", kRegSz, "9"}},
         {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Register(c.values);
        T_ProductReg result{"stale", "stale", "stale", "stale", "stale",
                            "stale", "stale", "x",     "stale"};
        ReadProductReg(registry, code, result);
        EXPECT_EQ(result, c.expected);
        // The application-path key exists afterwards in every case.
        EXPECT_TRUE(registrations.KeyExists("ABC", "ApplicationPath"));
        ExpectTemplates(c.what);
    }
}

TEST_F(ProductRegTest, NonStringValueEndsTheReadWithItsName)
{
    struct Case {
        Value value; // replaces the string value of the same name
        std::string message;
        T_ProductReg expected; // what was read before the error
    };
    const std::string code = Code();
    const Case cases[] = {
        {{"ABC", "ClientConfigure", "Build", kRegDword, "\x34\x12\0\0"s},
         "Invalid data type for 'Build'",
         {code, "", "5", "", "", "", "", "", ""}},
        {{"ABC", "ClientConfigure", "PassWord", kRegBinary, "c2"},
         "Invalid data type for 'PassWord'",
         {code, "", "5", "5.0.1234", "db01", "kxdata", "sa", "", ""}},
        {{"ABC", "ClientConfigure", "ServerName", kRegMultiSz, "a\0"s},
         "Invalid data type for 'ServerName'",
         {code, "", "5", "5.0.1234", "", "", "", "", ""}},
        {{"ABC", "ClientConfigure", "Version", kRegQword, "\x05\0\0\0\0\0\0\0"s},
         "Invalid data type for 'Version'",
         {code, "", "", "", "", "", "", "", ""}},
        {{"ABC", "ApplicationPath", "Path", kRegDword, "\x01\0\0\0"s},
         "Invalid data type for 'Path'",
         Full("")},
        // A pinned key that cannot be read fails the read: the scan then passes the package
        // over rather than take it unverified.
        {{"ABC", "ClientConfigure", "PackageKey", kRegBinary, "RW"},
         "Invalid data type for 'PackageKey'",
         Full("")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        Register(kConfigAbc + kAppAbc + std::vector<Value>{c.value});
        RecordingRegistry recording(registry);
        T_ProductReg result;
        try {
            ReadProductReg(recording, code, result);
            ADD_FAILURE() << "no error";
        } catch (const KxError &e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
        EXPECT_EQ(result, c.expected);
        EXPECT_TRUE(recording.open.empty());
        ExpectTemplates(c.message);
    }
}

TEST_F(ProductRegTest, FailedDataReadEndsTheReadWithItsName)
{
    const std::string code = Code();
    struct Case {
        const char *name;
        T_ProductReg expected;
    };
    const Case cases[] = {
        {"Version", {code, "", "", "", "", "", "", "", ""}},
        {"UserName", {code, "", "5", "5.0.1234", "db01", "kxdata", "", "", ""}},
        {"Path", Full("")},
    };
    Register(kConfigAbc + kAppAbc);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        RecordingRegistry recording(registry);
        recording.failDataOf = c.name;
        T_ProductReg result;
        try {
            ReadProductReg(recording, code, result);
            ADD_FAILURE() << "no error";
        } catch (const KxError &e) {
            EXPECT_EQ(std::string(e.what()), "Failed to get data for '"s + c.name + "'");
        }
        EXPECT_EQ(result, c.expected);
        EXPECT_TRUE(recording.open.empty());
        ExpectTemplates(c.name);
    }
}

TEST_F(ProductRegTest, TwoReadsInARowOpenOnlyTheirOwnKeys)
{
    Register(kConfigAbc + kAppAbc);
    const std::string abcCode = Code();
    const std::string xyzCode = registrations.Code("XYZ");
    RecordingRegistry recording(registry);
    T_ProductReg abc;
    T_ProductReg xyz;
    ReadProductReg(recording, abcCode, abc);
    ExpectTemplates("after ABC");
    ReadProductReg(recording, xyzCode, xyz);
    ExpectTemplates("after XYZ");

    EXPECT_EQ(abc, Full("/opt/abc/"));
    EXPECT_EQ(xyz, T_ProductReg{});
    const std::vector<std::string> calls = {
        "open Software\\vazerodu\\" + abcCode + "\\ClientConfigure",
        "create Software\\vazerodu\\" + abcCode + "\\ApplicationPath",
        "open Software\\vazerodu\\" + xyzCode + "\\ClientConfigure",
        "create Software\\vazerodu\\" + xyzCode + "\\ApplicationPath",
    };
    EXPECT_EQ(recording.calls, calls);
    // During a read both variables hold the product's paths.
    const std::string abcPaths = "\\Software\\vazerodu\\" + abcCode +
                                 "\\ClientConfigure|\\Software\\vazerodu\\" + abcCode +
                                 "\\ApplicationPath";
    const std::string xyzPaths = "\\Software\\vazerodu\\" + xyzCode +
                                 "\\ClientConfigure|\\Software\\vazerodu\\" + xyzCode +
                                 "\\ApplicationPath";
    EXPECT_EQ(recording.keyVariables,
              (std::vector<std::string>{abcPaths, abcPaths, xyzPaths, xyzPaths}));
    EXPECT_TRUE(recording.open.empty());
    EXPECT_TRUE(registrations.KeyExists("XYZ", "ApplicationPath"));
}

} // namespace

} // namespace offline_upgrade
