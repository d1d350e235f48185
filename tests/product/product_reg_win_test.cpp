// The registration read on Windows' own terms: the registry's two views on 64-bit Windows,
// of which the products' 32-bit installers write the 32-bit one.

#include "product/product_reg.h"

#include "platform/win/registry_win.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace offline_upgrade {

namespace {

const std::wstring kParent = L"Software\\vazerodu";

std::wstring Wide(const std::string &ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

void SetVersion(REGSAM view, const std::string &code)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                              (kParent + L"\\" + Wide(code) + L"\\ClientConfigure").c_str(), 0,
                              nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::wstring version = L"5";
    RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE *>(version.c_str()),
                   static_cast<DWORD>((version.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

bool Exists(REGSAM view, const std::string &code, const wchar_t *key)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kParent + L"\\" + Wide(code) + key).c_str(), 0,
                      KEY_READ | view, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

void Remove(REGSAM view, const std::string &code)
{
    HKEY parent = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kParent.c_str(), 0, KEY_ALL_ACCESS | view, &parent) ==
        ERROR_SUCCESS) {
        RegDeleteTreeW(parent, Wide(code).c_str());
        RegCloseKey(parent);
    }
}

TEST(ProductRegViews, OnlyThe32BitViewHoldsTheProductsTheToolReads)
{
    struct Case {
        const char *what;
        REGSAM written;
        bool installed;
    };
    const Case cases[] = {
        {"the 32-bit view, as the installers write", KEY_WOW64_32KEY, true},
        {"the 64-bit view alone", KEY_WOW64_64KEY, false},
    };
    const std::string code = "VIEW" + std::to_string(GetCurrentProcessId());
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SetVersion(c.written, code);
        WinRegistry registry;
        T_ProductReg result;
        ReadProductReg(registry, code, result);
        EXPECT_EQ(result.ProductCode, c.installed ? code : "");
        EXPECT_EQ(result.Version, c.installed ? "5" : "");
        // The missing application path is created where the tool looks, never in the other
        // view.
        EXPECT_TRUE(Exists(KEY_WOW64_32KEY, code, L"\\ApplicationPath"));
        EXPECT_FALSE(Exists(KEY_WOW64_64KEY, code, L"\\ApplicationPath"));
        Remove(KEY_WOW64_32KEY, code);
        Remove(KEY_WOW64_64KEY, code);
    }
}

} // namespace

} // namespace offline_upgrade
