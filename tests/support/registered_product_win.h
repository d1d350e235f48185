#pragma once
// Windows tests only: a product's keys written into the 32-bit view of HKEY_LOCAL_MACHINE (as
// 32-bit installers write them) in the prefix's registry, removed again when the test ends. The
// product code ends with the process's id, so test programs sharing a prefix never meet.

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace offline_upgrade {

class RegisteredProduct {
public:
    explicit RegisteredProduct(const std::wstring &codeStart)
        : code_(codeStart + std::to_wstring(GetCurrentProcessId()))
    {
    }
    ~RegisteredProduct()
    {
        HKEY parent = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\vazerodu", 0,
                          KEY_ALL_ACCESS | KEY_WOW64_32KEY, &parent) == ERROR_SUCCESS) {
            RegDeleteTreeW(parent, code_.c_str());
            RegCloseKey(parent);
        }
    }
    RegisteredProduct(const RegisteredProduct &) = delete;
    RegisteredProduct &operator=(const RegisteredProduct &) = delete;

    std::string Code() const { return std::string(code_.begin(), code_.end()); }
    std::wstring Base() const { return L"Software\\vazerodu\\" + code_; }

    void SetString(const std::wstring &key, const std::wstring &name, const std::wstring &value,
                   DWORD type = REG_SZ)
    {
        HKEY handle = Create(key);
        RegSetValueExW(handle, name.c_str(), 0, type, reinterpret_cast<const BYTE *>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(handle);
    }
    void SetDword(const std::wstring &key, const std::wstring &name, DWORD value)
    {
        HKEY handle = Create(key);
        RegSetValueExW(handle, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value),
                       sizeof value);
        RegCloseKey(handle);
    }
    // True when the key exists in the given view (KEY_WOW64_32KEY or KEY_WOW64_64KEY).
    bool Exists(const std::wstring &key, REGSAM view = KEY_WOW64_32KEY) const
    {
        HKEY handle = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (Base() + key).c_str(), 0, KEY_READ | view,
                          &handle) != ERROR_SUCCESS)
            return false;
        RegCloseKey(handle);
        return true;
    }

private:
    HKEY Create(const std::wstring &key)
    {
        HKEY handle = nullptr;
        EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (Base() + key).c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &handle, nullptr),
                  ERROR_SUCCESS);
        return handle;
    }
    std::wstring code_;
};

} // namespace offline_upgrade
