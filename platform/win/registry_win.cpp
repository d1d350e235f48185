#include "platform/win/registry_win.h"

#include "platform/diagnostics.h"
#include "platform/text.h"
#include "platform/win/wide.h"

#include <windows.h>

namespace offline_upgrade {

namespace {

constexpr REGSAM kAccess = KEY_ALL_ACCESS | KEY_WOW64_32KEY;

// The system's reason, and for a refusal what it means here: the product keys are opened with
// full access, which only an administrator has.
std::string FailureText(LSTATUS rc)
{
    std::string text = SystemErrorText(static_cast<unsigned long>(rc));
    if (rc == ERROR_ACCESS_DENIED)
        text += " (the product key cannot be opened for lack of rights: full access to "
                "HKEY_LOCAL_MACHINE needs an administrator; run offline-upgrade.exe as "
                "administrator)";
    return text;
}

bool IsText(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

} // namespace

RegKey WinRegistry::Remember(UniqueRegKey handle)
{
    const RegKey key = next_++;
    if (next_ == kNoRegKey)
        ++next_;
    open_[key] = std::move(handle);
    return key;
}

bool WinRegistry::OpenKey(const std::string &subKey, RegKey &key)
{
    key = kNoRegKey;
    HKEY handle = nullptr;
    const LSTATUS rc =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, Widen(subKey).c_str(), 0, kAccess, &handle);
    if (rc != ERROR_SUCCESS) {
        if (rc != ERROR_FILE_NOT_FOUND)
            LogWarning("registry: cannot open HKEY_LOCAL_MACHINE\\" + subKey + ": " +
                       FailureText(rc));
        return false;
    }
    key = Remember(UniqueRegKey(handle));
    return true;
}

bool WinRegistry::CreateKey(const std::string &subKey, RegKey &key)
{
    key = kNoRegKey;
    HKEY handle = nullptr;
    const LSTATUS rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, Widen(subKey).c_str(), 0, nullptr,
                                       REG_OPTION_NON_VOLATILE, kAccess, nullptr, &handle, nullptr);
    if (rc != ERROR_SUCCESS) {
        LogError("registry: cannot create HKEY_LOCAL_MACHINE\\" + subKey + ": " + FailureText(rc));
        return false;
    }
    key = Remember(UniqueRegKey(handle));
    return true;
}

bool WinRegistry::Read(RegKey key, const std::string &name, uint32_t &type, std::string &data)
{
    const auto found = open_.find(key);
    if (found == open_.end())
        return false;
    const HKEY handle = static_cast<HKEY>(found->second.get());
    const std::wstring wideName = Widen(name);
    // The value may grow between the two calls: ask again with the new size.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD valueType = 0;
        DWORD size = 0;
        LSTATUS rc =
            RegQueryValueExW(handle, wideName.c_str(), nullptr, &valueType, nullptr, &size);
        if (rc != ERROR_SUCCESS)
            return false;
        std::string raw(size, '\0');
        rc = RegQueryValueExW(handle, wideName.c_str(), nullptr, &valueType,
                              reinterpret_cast<BYTE *>(raw.data()), &size);
        if (rc == ERROR_MORE_DATA)
            continue;
        if (rc != ERROR_SUCCESS)
            return false;
        raw.resize(size);
        type = valueType;
        data = IsText(valueType) ? Utf16ToUtf8(raw) : raw;
        return true;
    }
    return false;
}

bool WinRegistry::QueryValueInfo(RegKey key, const std::string &name, uint32_t &type,
                                 uint32_t &size)
{
    std::string data;
    if (!Read(key, name, type, data))
        return false;
    size = static_cast<uint32_t>(data.size());
    return true;
}

bool WinRegistry::QueryValueData(RegKey key, const std::string &name, uint32_t capacity,
                                 uint32_t &type, std::string &data)
{
    std::string read;
    uint32_t readType = 0;
    if (!Read(key, name, readType, read) || read.size() > capacity)
        return false;
    type = readType;
    data = std::move(read);
    return true;
}

void WinRegistry::CloseKey(RegKey key)
{
    const auto found = open_.find(key);
    if (found == open_.end())
        return;
    open_.erase(found);
}

} // namespace offline_upgrade
