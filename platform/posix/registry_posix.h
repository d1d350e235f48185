#pragma once
// The registry on POSIX: the local machine root kept in one store file, in the text format the
// Windows registry editor exports, so that a product's keys move between machines as they are.
// Only the local machine root is served; keys of other roots in the file are kept, not read.
//
// The store format is the registry editor's export, read as platform/reg_store.h describes.
//
// Every OpenKey and CreateKey reads the file again; a handle keeps the values its key had when
// it was opened. Full access means this process may open the store file for reading and
// writing. Creating a missing key takes an exclusive lock on "<store>.lock" beside the store,
// reads the file again, appends the key in the file's own encoding and line-end style, and
// replaces the file through a temporary file in the same folder (flushed to disk, then renamed
// over it), so concurrent writers lose nothing and a crash never leaves a half-written store.
// All other bytes of the file are kept as they are. A missing store (and its folder) is
// created in the exported format: UTF-16LE with a byte-order mark, CR LF line ends, mode 0600.

#include "platform/reg_store.h"
#include "platform/registry.h"

#include <map>
#include <string>
#include <vector>

namespace offline_upgrade {

class RegFileRegistry : public IRegistry {
public:
    explicit RegFileRegistry(std::string storePath);

    bool OpenKey(const std::string &subKey, RegKey &key) override;
    bool CreateKey(const std::string &subKey, RegKey &key) override;
    bool QueryValueInfo(RegKey key, const std::string &name, uint32_t &type,
                        uint32_t &size) override;
    bool QueryValueData(RegKey key, const std::string &name, uint32_t capacity, uint32_t &type,
                        std::string &data) override;
    void CloseKey(RegKey key) override;

    const std::string &StorePath() const { return storePath_; }

    using Value = RegStoreValue;

private:
    RegKey Remember(std::vector<Value> values);
    const Value *Find(RegKey key, const std::string &name) const;

    std::string storePath_;
    std::map<RegKey, std::vector<Value>> open_;
    RegKey next_ = 1;
};

// The store file: the path in the environment variable KX_REGISTRY when it is set and not
// empty, else "/etc/kx/registry.reg".
std::string DefaultRegistryStorePath();

} // namespace offline_upgrade
