// The registries that never write, on both systems: a store file read as the scan reads it
// (kxpack's "check --registry STORE" on Windows), and the view that keeps a registry unchanged
// while the scan adds a missing ApplicationPath key.
#include "platform/native_path.h"
#include "platform/reg_store.h"
#include "platform/registry_views.h"
#include "platform/text.h"
#include "product/product_reg.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

namespace offline_upgrade {

namespace {

// A store in a folder with a Chinese name, as package makers' folders often have.
class Store {
public:
    explicit Store(const std::string &bytes)
        : path_(PathText(temp_.Path()) + "/注册表/registry.reg"), bytes_(bytes)
    {
        std::filesystem::create_directories(NativePath(PathText(temp_.Path()) + "/注册表"));
        std::ofstream(NativePath(path_), std::ios::binary) << bytes;
    }
    const std::string &Path() const { return path_; }
    bool Unchanged() const { return ReadWholeFile(NativePath(path_)) == bytes_; }

private:
    TempFolder temp_;
    std::string path_;
    std::string bytes_;
};

const std::string kKey = "[HKEY_LOCAL_MACHINE\\Software\\vazerodu\\ABC\\ClientConfigure]";

TEST(StoreFileRegistry, ReadsEitherExportFormatAndNeverWrites)
{
    const std::string text = kKey + "\r\n\"Version\"=\"5\"\r\n\"ServerName\"=\"数据库\"\r\n";
    const struct {
        const char *what;
        std::string bytes;
    } cases[] = {
        {"REGEDIT4 in UTF-8", "REGEDIT4\r\n\r\n" + text},
        {"exported UTF-16", std::string(kRegStoreUtf16Bom) +
                                Utf8ToUtf16Le(std::string(kRegStoreHeaderV5) + "\r\n\r\n" + text)},
    };
    for (const auto &c : cases) {
        const Store store(c.bytes);
        StoreFileRegistry registry(store.Path());
        T_ProductReg product;
        ReadProductReg(registry, "abc", product);
        EXPECT_EQ(product.Version, "5") << c.what;
        EXPECT_EQ(product.ServerName, "数据库") << c.what;
        RegKey key = kNoRegKey;
        EXPECT_FALSE(registry.CreateKey("Software\\vazerodu\\ABC\\ApplicationPath", key)) << c.what;
        EXPECT_TRUE(store.Unchanged()) << c.what;
    }
    StoreFileRegistry missing(Store("").Path() + ".none");
    RegKey key = kNoRegKey;
    EXPECT_FALSE(missing.OpenKey("Software", key));
}

TEST(NoWriteRegistry, AKeyTheScanCreatesExistsInTheViewOnly)
{
    const Store store("REGEDIT4\r\n\r\n" + kKey + "\r\n\"Build\"=\"5.10\"\r\n");
    NoWriteRegistry view(std::make_unique<StoreFileRegistry>(store.Path()));
    const std::string made = "Software\\vazerodu\\ABC\\ApplicationPath";
    RegKey key = kNoRegKey;
    EXPECT_FALSE(view.OpenKey(made, key));

    T_ProductReg product;
    ReadProductReg(view, "ABC", product);
    EXPECT_EQ(product.Build, "5.10");
    EXPECT_EQ(product.Path, "");
    EXPECT_TRUE(store.Unchanged());

    // Made empty, as the creation would leave it, and found again (in any letter case).
    ASSERT_TRUE(view.OpenKey("SOFTWARE\\vazerodu\\abc\\applicationpath", key));
    uint32_t type = 0, size = 0;
    EXPECT_FALSE(view.QueryValueInfo(key, "Path", type, size));
    view.CloseKey(key);
    // Keys of the registry underneath keep their values through the view.
    ASSERT_TRUE(view.CreateKey("Software\\vazerodu\\ABC\\ClientConfigure", key));
    std::string data;
    ASSERT_TRUE(view.QueryValueData(key, "Build", 5, type, data));
    EXPECT_EQ(data, std::string("5.10") + '\0');
    view.CloseKey(key);
    EXPECT_FALSE(view.QueryValueInfo(key, "Build", type, size)); // closed
    EXPECT_FALSE(view.CreateKey("Software\\\\Empty name", key));
}

} // namespace

} // namespace offline_upgrade
