#pragma once
// The registry on Windows: keys below HKEY_LOCAL_MACHINE in the registry's 32-bit view
// (KEY_WOW64_32KEY), whatever this build's word size, because the 32-bit installers and
// programs of the products write their keys there on 64-bit Windows. String data (REG_SZ,
// REG_EXPAND_SZ, REG_MULTI_SZ) is stored as UTF-16 and given to the logic as UTF-8, sizes
// counted in those UTF-8 bytes; other data is given as it is stored.

#include "platform/registry.h"
#include "platform/win/unique_handle.h"

#include <map>

namespace offline_upgrade {

class WinRegistry : public IRegistry {
public:
    WinRegistry() = default;
    WinRegistry(const WinRegistry &) = delete;
    WinRegistry &operator=(const WinRegistry &) = delete;

    bool OpenKey(const std::string &subKey, RegKey &key) override;
    bool CreateKey(const std::string &subKey, RegKey &key) override;
    bool QueryValueInfo(RegKey key, const std::string &name, uint32_t &type,
                        uint32_t &size) override;
    bool QueryValueData(RegKey key, const std::string &name, uint32_t capacity, uint32_t &type,
                        std::string &data) override;
    void CloseKey(RegKey key) override;

private:
    RegKey Remember(UniqueRegKey handle);
    // The value as the logic sees it; false when it cannot be read.
    bool Read(RegKey key, const std::string &name, uint32_t &type, std::string &data);

    std::map<RegKey, UniqueRegKey> open_; // our handles to the system's HKEYs
    RegKey next_ = 1;
};

} // namespace offline_upgrade
