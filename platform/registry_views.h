#pragma once
// Registries that never write, for tools that judge a package against a product registration
// without changing it.

#include "platform/reg_store.h"
#include "platform/registry.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace offline_upgrade {

// The local machine root of a store file (platform/reg_store.h), read again at every OpenKey;
// the file is never written. Full access means the file can be read. CreateKey opens only a
// key that exists. Never throws beyond std::bad_alloc.
class StoreFileRegistry : public IRegistry {
public:
    explicit StoreFileRegistry(std::string storePath);

    bool OpenKey(const std::string &subKey, RegKey &key) override;
    bool CreateKey(const std::string &subKey, RegKey &key) override;
    bool QueryValueInfo(RegKey key, const std::string &name, uint32_t &type,
                        uint32_t &size) override;
    bool QueryValueData(RegKey key, const std::string &name, uint32_t capacity, uint32_t &type,
                        std::string &data) override;
    void CloseKey(RegKey key) override;

private:
    std::string storePath_;
    std::map<RegKey, std::vector<RegStoreValue>> open_;
    RegKey next_ = 1;
};

// Another registry seen without writes: a key that CreateKey would create is given as an
// empty key of this view's own, as the creation would leave it (and later opens find it),
// while the registry underneath stays as it is. Everything else is the other registry's.
class NoWriteRegistry : public IRegistry {
public:
    explicit NoWriteRegistry(std::unique_ptr<IRegistry> inner);
    ~NoWriteRegistry() override;
    NoWriteRegistry(const NoWriteRegistry &) = delete;
    NoWriteRegistry &operator=(const NoWriteRegistry &) = delete;

    bool OpenKey(const std::string &subKey, RegKey &key) override;
    bool CreateKey(const std::string &subKey, RegKey &key) override;
    bool QueryValueInfo(RegKey key, const std::string &name, uint32_t &type,
                        uint32_t &size) override;
    bool QueryValueData(RegKey key, const std::string &name, uint32_t capacity, uint32_t &type,
                        std::string &data) override;
    void CloseKey(RegKey key) override;

private:
    RegKey Remember(RegKey inner);

    std::unique_ptr<IRegistry> inner_;
    std::map<RegKey, RegKey> open_; // ours -> the other registry's (kNoRegKey: made here)
    std::set<std::string> made_;    // folded paths of the keys made here
    RegKey next_ = 1;
};

} // namespace offline_upgrade
