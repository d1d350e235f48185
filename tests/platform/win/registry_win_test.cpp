// The registry service against the system's registry (Wine's, in the build's own prefix): a
// product registered in the 32-bit view, as 32-bit installers write it, is read whole.
#include "platform/diagnostics.h"
#include "platform/system_services.h"
#include "platform/win/registry_win.h"
#include "product/product_reg.h"
#include "tests/support/registered_product_win.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <string>
#include <string_view>

namespace offline_upgrade {

namespace {

TEST(WinRegistry, ReadsAProductOfThe32BitViewAndCreatesItsMissingApplicationPath)
{
    RegisteredProduct product(L"KXTEST");
    product.SetString(L"\\ClientConfigure", L"Version", L"5.2");
    product.SetString(L"\\ClientConfigure", L"Build", L"1130");
    product.SetString(L"\\ClientConfigure", L"ServerName", L"数据库服务器");
    product.SetString(L"\\ClientConfigure", L"DBaseName", L"kx_db");
    product.SetString(L"\\ClientConfigure", L"UserName", L"%USER%", REG_EXPAND_SZ);
    product.SetString(L"\\ClientConfigure", L"PassWord", L"c2VjcmV0");
    ASSERT_FALSE(product.Exists(L"\\ApplicationPath", KEY_WOW64_32KEY));

    WinRegistry registry;
    T_ProductReg result;
    ReadProductReg(registry, product.Code(), result);
    const T_ProductReg expected{product.Code(), "",      "5.2",    "1130",
                                "数据库服务器", "kx_db", "%USER%", "c2VjcmV0"};
    EXPECT_EQ(result, expected);
    // The missing key was created, in the same view.
    EXPECT_TRUE(product.Exists(L"\\ApplicationPath", KEY_WOW64_32KEY));
    EXPECT_FALSE(product.Exists(L"", KEY_WOW64_64KEY));

    product.SetString(L"\\ApplicationPath", L"Path", L"C:\\产品\\");
    ReadProductReg(registry, product.Code(), result);
    EXPECT_EQ(result.Path, "C:\\产品\\");
}

TEST(WinRegistry, ValuesComeWithTheirTypesAndUtf8Sizes)
{
    RegisteredProduct product(L"KXTEST");
    product.SetString(L"", L"Text", L"中");
    product.SetDword(L"", L"Number", 0x01020304);
    WinRegistry registry;
    RegKey key = kNoRegKey;
    ASSERT_TRUE(registry.OpenKey("Software\\vazerodu\\" + product.Code(), key));

    uint32_t type = 0, size = 0;
    ASSERT_TRUE(registry.QueryValueInfo(key, "TEXT", type, size)); // names ignore case
    EXPECT_EQ(type, kRegSz);
    EXPECT_EQ(size, 4u); // three UTF-8 bytes and the terminating zero
    std::string data;
    EXPECT_FALSE(registry.QueryValueData(key, "Text", 3, type, data));
    ASSERT_TRUE(registry.QueryValueData(key, "Text", 4, type, data));
    EXPECT_EQ(data, std::string("中") + '\0');

    ASSERT_TRUE(registry.QueryValueData(key, "Number", 4, type, data));
    EXPECT_EQ(type, kRegDword);
    EXPECT_EQ(data, std::string("\x04\x03\x02\x01", 4));

    EXPECT_FALSE(registry.QueryValueInfo(key, "Missing", type, size));
    registry.CloseKey(key);
    EXPECT_FALSE(registry.QueryValueInfo(key, "Text", type, size)); // closed handle
}

TEST(WinRegistry, AMissingKeyIsNotOpenedButCreated)
{
    RegisteredProduct product(L"KXTEST");
    product.SetString(L"", L"Marker", L"x");
    WinRegistry registry;
    RegKey key = kNoRegKey;
    const std::string path = "Software\\vazerodu\\" + product.Code() + "\\New\\Deeper";
    EXPECT_FALSE(registry.OpenKey(path, key));
    EXPECT_EQ(key, kNoRegKey);
    ASSERT_TRUE(registry.CreateKey(path, key));
    EXPECT_NE(key, kNoRegKey);
    registry.CloseKey(key);
    EXPECT_TRUE(product.Exists(L"\\New\\Deeper", KEY_WOW64_32KEY));
    EXPECT_TRUE(registry.OpenKey(path, key));
    registry.CloseKey(key);
}

// What kxpack's "check --registry" reads on Windows: the machine's own registry, unchanged.
TEST(WinRegistry, TheMachineRegistrationIsReadWithoutWriting)
{
    RegisteredProduct product(L"KXTEST");
    product.SetString(L"\\ClientConfigure", L"Version", L"5");
    product.SetString(L"\\ClientConfigure", L"Build", L"5.10");
    MachineRegistration machine = OpenMachineRegistration();
    ASSERT_TRUE(machine.Registry);
    EXPECT_TRUE(machine.StoreFile.empty());
    EXPECT_NE(machine.Name.find("HKEY_LOCAL_MACHINE"), std::string::npos);

    T_ProductReg result;
    ReadProductReg(*machine.Registry, product.Code(), result);
    EXPECT_EQ(result.ProductCode, product.Code());
    EXPECT_EQ(result.Build, "5.10");
    EXPECT_EQ(result.Path, "");
    // The tool would have created the missing key; the view only pretends to.
    EXPECT_FALSE(product.Exists(L"\\ApplicationPath", KEY_WOW64_32KEY));

    product.SetString(L"\\ApplicationPath", L"Path", L"D:\\产品\\");
    ReadProductReg(*machine.Registry, product.Code(), result);
    EXPECT_EQ(result.Path, "D:\\产品\\");
}

// A product key that this user may only read (as a user without an administrator's rights
// finds HKEY_LOCAL_MACHINE): not opened, and the log says it is a lack of rights.
TEST(WinRegistry, AKeyRefusedForLackOfRightsSaysSoInTheLog)
{
    class Warnings : public ILogSink {
    public:
        Warnings() { SetLogSink(this); }
        ~Warnings() override { SetLogSink(nullptr); }
        void Write(LogLevel, std::string_view line) override { All += std::string(line) + "\n"; }
        std::string All;
    } log;
    RegisteredProduct product(L"KXTEST");
    product.SetString(L"\\ClientConfigure", L"Version", L"5");
    HKEY handle = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (product.Base() + L"\\ClientConfigure").c_str(), 0,
                            WRITE_DAC | KEY_WOW64_32KEY, &handle),
              ERROR_SUCCESS);
    // Everyone may read, change this rule and delete it; nothing else.
    PSECURITY_DESCRIPTOR readOnly = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:P(A;;KRWDSD;;;WD)", SDDL_REVISION_1, &readOnly, nullptr));
    ASSERT_EQ(RegSetKeySecurity(handle, DACL_SECURITY_INFORMATION, readOnly), ERROR_SUCCESS);
    LocalFree(readOnly);

    WinRegistry registry;
    RegKey key = kNoRegKey;
    EXPECT_FALSE(
        registry.OpenKey("Software\\vazerodu\\" + product.Code() + "\\ClientConfigure", key));
    EXPECT_NE(log.All.find("cannot be opened for lack of rights"), std::string::npos) << log.All;
    EXPECT_NE(log.All.find("as administrator"), std::string::npos) << log.All;

    // Open to all again, so that the product's keys can go.
    PSECURITY_DESCRIPTOR open = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:(A;;KA;;;WD)", SDDL_REVISION_1, &open, nullptr));
    RegSetKeySecurity(handle, DACL_SECURITY_INFORMATION, open);
    LocalFree(open);
    RegCloseKey(handle);
}

} // namespace

} // namespace offline_upgrade
