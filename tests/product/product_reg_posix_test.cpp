// The registration read on the POSIX registry's own terms: its store file, whose bytes a read
// keeps, and the file's rights.

#include "product/product_reg.h"

#include "platform/posix/registry_posix.h"
#include "tests/support/temp_folder.h"
#include "tests/support/unprivileged.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

namespace offline_upgrade {

namespace {

const char kConfigAbc[] = R"([HKEY_LOCAL_MACHINE\Software\vazerodu\ABC\ClientConfigure]
"Version"="5"
"Build"="5.0.1234"
"ServerName"="db01"
"DBaseName"="kxdata"
"UserName"="sa"
"PassWord"="c2VjcmV0"
)";

class ProductRegStore : public ::testing::Test {
protected:
    std::string Store() const { return (folder.Path() / "registry.reg").string(); }

    TempFolder folder;
    RegFileRegistry store{Store()};
};

TEST_F(ProductRegStore, ExportedUnicodeStore)
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
    EXPECT_EQ(result, (T_ProductReg{"ABC", "%A%/", "5", "5.0.1234", "", "", "管理员", "", ""}));
    EXPECT_EQ(ReadWholeFile(Store()), bytes);
}

TEST_F(ProductRegStore, ConfigurationWithoutApplicationPathCreatesTheKeyAndKeepsTheFile)
{
    const std::string before = "REGEDIT4\n\n; installed by hand\n" + std::string(kConfigAbc);
    folder.Write("registry.reg", before);
    T_ProductReg result;
    ReadProductReg(store, "ABC", result);
    EXPECT_EQ(result,
              (T_ProductReg{"ABC", "", "5", "5.0.1234", "db01", "kxdata", "sa", "c2VjcmV0", ""}));
    EXPECT_EQ(ReadWholeFile(Store()),
              before + "\n[HKEY_LOCAL_MACHINE\\Software\\vazerodu\\ABC\\ApplicationPath]\n\n");
}

TEST_F(ProductRegStore, ReadOnlyStoreShowsTheProductAsNotInstalled)
{
    const std::string before = "REGEDIT4\n\n" + std::string(kConfigAbc);
    folder.Write("registry.reg", before);
    ASSERT_EQ(chmod(folder.Path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(Store().c_str(), 0444), 0);
    const std::string fields = RunUnprivileged([&] {
        RegFileRegistry registry(Store());
        T_ProductReg result{"stale", "stale", "", "", "", "", "", "", ""};
        ReadProductReg(registry, "ABC", result);
        return result.ProductCode + "|" + result.Path + "|" + result.Version + "|" + result.Build;
    });
    EXPECT_EQ(fields, "|||");
    EXPECT_EQ(ReadWholeFile(Store()), before);
}

} // namespace

} // namespace offline_upgrade
