#include "platform/registry_views.h"

#include "platform/native_path.h"
#include "platform/text.h"

#include <fstream>
#include <sstream>
#include <utility>

namespace offline_upgrade {

namespace {

const RegStoreValue *FindValue(const std::vector<RegStoreValue> &values, const std::string &name)
{
    for (const RegStoreValue &v : values)
        if (EqualsIgnoreAsciiCase(v.Name, name))
            return &v;
    return nullptr;
}

} // namespace

StoreFileRegistry::StoreFileRegistry(std::string storePath) : storePath_(std::move(storePath)) {}

bool StoreFileRegistry::OpenKey(const std::string &subKey, RegKey &key)
{
    key = kNoRegKey;
    const auto folded = FoldRegKeyPath(subKey);
    if (!folded)
        return false;
    std::ifstream in(NativePath(storePath_), std::ios::binary);
    if (!in)
        return false;
    std::ostringstream raw;
    raw << in.rdbuf();
    if (in.bad())
        return false;
    RegStore store = ParseRegStore(raw.str());
    if (!store.keys.count(*folded))
        return false;
    key = next_++;
    open_[key] = std::move(store.values[*folded]);
    return true;
}

bool StoreFileRegistry::CreateKey(const std::string &subKey, RegKey &key)
{
    return OpenKey(subKey, key);
}

bool StoreFileRegistry::QueryValueInfo(RegKey key, const std::string &name, uint32_t &type,
                                       uint32_t &size)
{
    const auto it = open_.find(key);
    const RegStoreValue *v = it == open_.end() ? nullptr : FindValue(it->second, name);
    if (!v || v->Data.size() > UINT32_MAX)
        return false;
    type = v->Type;
    size = static_cast<uint32_t>(v->Data.size());
    return true;
}

bool StoreFileRegistry::QueryValueData(RegKey key, const std::string &name, uint32_t capacity,
                                       uint32_t &type, std::string &data)
{
    const auto it = open_.find(key);
    const RegStoreValue *v = it == open_.end() ? nullptr : FindValue(it->second, name);
    if (!v || v->Data.size() > capacity)
        return false;
    type = v->Type;
    data = v->Data;
    return true;
}

void StoreFileRegistry::CloseKey(RegKey key)
{
    open_.erase(key);
}

NoWriteRegistry::NoWriteRegistry(std::unique_ptr<IRegistry> inner) : inner_(std::move(inner)) {}

NoWriteRegistry::~NoWriteRegistry()
{
    for (const auto &[ours, theirs] : open_)
        if (theirs != kNoRegKey)
            inner_->CloseKey(theirs);
}

RegKey NoWriteRegistry::Remember(RegKey inner)
{
    const RegKey key = next_++;
    open_[key] = inner;
    return key;
}

bool NoWriteRegistry::OpenKey(const std::string &subKey, RegKey &key)
{
    key = kNoRegKey;
    RegKey inner = kNoRegKey;
    if (inner_->OpenKey(subKey, inner)) {
        key = Remember(inner);
        return true;
    }
    const auto folded = FoldRegKeyPath(subKey);
    if (!folded || !made_.count(*folded))
        return false;
    key = Remember(kNoRegKey);
    return true;
}

bool NoWriteRegistry::CreateKey(const std::string &subKey, RegKey &key)
{
    if (OpenKey(subKey, key))
        return true;
    const auto folded = FoldRegKeyPath(subKey);
    if (!folded)
        return false;
    made_.insert(*folded);
    key = Remember(kNoRegKey);
    return true;
}

bool NoWriteRegistry::QueryValueInfo(RegKey key, const std::string &name, uint32_t &type,
                                     uint32_t &size)
{
    const auto it = open_.find(key);
    return it != open_.end() && it->second != kNoRegKey &&
           inner_->QueryValueInfo(it->second, name, type, size);
}

bool NoWriteRegistry::QueryValueData(RegKey key, const std::string &name, uint32_t capacity,
                                     uint32_t &type, std::string &data)
{
    const auto it = open_.find(key);
    return it != open_.end() && it->second != kNoRegKey &&
           inner_->QueryValueData(it->second, name, capacity, type, data);
}

void NoWriteRegistry::CloseKey(RegKey key)
{
    const auto it = open_.find(key);
    if (it == open_.end())
        return;
    if (it->second != kNoRegKey)
        inner_->CloseKey(it->second);
    open_.erase(it);
}

} // namespace offline_upgrade
