// The registry for POSIX: stands in for RegOpenKeyExA, RegCreateKeyExA, RegQueryValueExA and
// RegCloseKey on the local machine root, over one exported registry file. No value is written,
// no key is deleted, nothing is enumerated.

#include "platform/posix/registry_posix.h"

#include "platform/codepage.h"
#include "platform/posix/durable_write.h"
#include "platform/posix/unique_fd.h"
#include "platform/reg_store.h"
#include "platform/text.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <string_view>
#include <utility>

namespace offline_upgrade {

namespace {

const mode_t kNewStoreMode = 0600; // it holds database logins and stored passwords
const mode_t kNewFolderMode = 0755;

using Value = RegStoreValue;

std::optional<std::string> ReadAll(int fd)
{
    std::string bytes;
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n == 0)
            return bytes;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        bytes.append(chunk, static_cast<size_t>(n));
    }
}

using Store = RegStore;
using Encoding = RegStoreEncoding;

// --- Writing --------------------------------------------------------------------------------

// How many line ends close the text (CR LF counts once).
int TrailingLineEnds(std::string_view text)
{
    int count = 0;
    while (!text.empty()) {
        if (text.ends_with("\r\n"))
            text.remove_suffix(2);
        else if (text.back() == '\n' || text.back() == '\r')
            text.remove_suffix(1);
        else
            break;
        ++count;
    }
    return count;
}

// The whole new file: the old bytes unchanged, then the new key in the file's own encoding and
// line-end style. A missing or empty store becomes an exported file with the header.
std::optional<std::string> AppendKey(const std::string &raw, const std::string &subKey)
{
    std::string section;
    if (!subKey.empty())
        section = std::string("[") + kRegStoreRoot + "\\" + subKey + "]";
    if (raw.empty()) {
        std::string text = std::string(kRegStoreHeaderV5) + "\r\n\r\n";
        if (!section.empty())
            text += section + "\r\n\r\n";
        return kRegStoreUtf16Bom + Utf8ToUtf16Le(text);
    }
    const Store store = ParseRegStore(raw);
    std::string text;
    for (int n = TrailingLineEnds(store.text); n < 2; ++n)
        text += store.eol;
    text += section + store.eol + store.eol;
    switch (store.encoding) {
    case Encoding::Utf16Le:
        // An odd length means a damaged file; appending would shift every new character.
        if (raw.size() % 2 != 0)
            return std::nullopt;
        return raw + Utf8ToUtf16Le(text);
    case Encoding::Utf8:
        return raw + text;
    case Encoding::Gb18030:
        if (auto encoded = Utf8ToGb18030(text))
            return raw + *encoded;
        return std::nullopt;
    }
    return std::nullopt;
}

// Creates folder and its missing parents.
bool MakeFolders(const std::filesystem::path &folder)
{
    std::error_code ec;
    if (std::filesystem::is_directory(folder, ec))
        return true;
    if (folder.has_parent_path() && folder.parent_path() != folder &&
        !MakeFolders(folder.parent_path()))
        return false;
    if (::mkdir(folder.c_str(), kNewFolderMode) == 0)
        return true;
    return errno == EEXIST && std::filesystem::is_directory(folder, ec);
}

// Writes bytes durably over target; the file keeps target's permission bits and, where
// allowed, its owner. That its folder could not be flushed does not fail the write: the key is
// in place for this run, and the next writer flushes the folder again.
bool ReplaceFile(const std::filesystem::path &target, const std::string &bytes,
                 const struct stat *old)
{
    const DurableFileRights rights{old ? static_cast<mode_t>(old->st_mode & 07777) : kNewStoreMode,
                                   true, old};
    const DurableWriteStep step = WriteDurably(target.string(), bytes, rights);
    return step == DurableWriteStep::Done || step == DurableWriteStep::FlushFolder;
}

} // namespace

RegFileRegistry::RegFileRegistry(std::string storePath) : storePath_(std::move(storePath)) {}

RegKey RegFileRegistry::Remember(std::vector<Value> values)
{
    if (next_ == kNoRegKey)
        ++next_;
    const RegKey key = next_++;
    open_[key] = std::move(values);
    return key;
}

bool RegFileRegistry::OpenKey(const std::string &subKey, RegKey &key)
{
    key = kNoRegKey;
    const auto folded = FoldRegKeyPath(subKey);
    if (!folded)
        return false;
    // Full access: the store must open for reading and writing, as the write rights on the
    // registry decide on Windows.
    UniqueFd file(::open(storePath_.c_str(), O_RDWR | O_CLOEXEC));
    if (!file)
        return false;
    const auto raw = ReadAll(file.get());
    if (!raw)
        return false;
    Store store = ParseRegStore(*raw);
    if (!store.keys.count(*folded))
        return false;
    key = Remember(std::move(store.values[*folded]));
    return true;
}

bool RegFileRegistry::CreateKey(const std::string &subKey, RegKey &key)
{
    key = kNoRegKey;
    if (!FoldRegKeyPath(subKey) || !IsValidUtf8(subKey))
        return false;
    if (OpenKey(subKey, key))
        return true;

    // Write through a link to the file it names, so the link stays.
    std::error_code ec;
    std::filesystem::path target = std::filesystem::weakly_canonical(storePath_, ec);
    if (ec || target.empty())
        target = storePath_;
    struct stat old {};
    UniqueFd probe(::open(target.c_str(), O_RDWR | O_CLOEXEC));
    const bool exists = static_cast<bool>(probe);
    if (!exists && errno != ENOENT)
        return false; // there, but not ours to write
    if (exists && (::fstat(probe.get(), &old) != 0 || !S_ISREG(old.st_mode)))
        return false;
    probe.reset();
    if (!MakeFolders(target.parent_path()))
        return false;

    // Writers take turns on a lock file beside the store; the store itself is replaced by
    // rename, so a lock on it would be lost with the old file.
    const std::string lockPath = target.string() + ".lock";
    UniqueFd lock(::open(lockPath.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC,
                         exists ? (old.st_mode & 0666) : kNewStoreMode));
    if (!lock)
        return false;
    while (::flock(lock.get(), LOCK_EX) != 0)
        if (errno != EINTR)
            return false;

    // Under the lock, read again: another writer may have changed the store meanwhile.
    std::string raw;
    UniqueFd file(::open(target.c_str(), O_RDWR | O_CLOEXEC));
    const bool existsNow = static_cast<bool>(file);
    if (existsNow) {
        if (::fstat(file.get(), &old) != 0 || !S_ISREG(old.st_mode))
            return false;
        auto bytes = ReadAll(file.get());
        if (!bytes)
            return false;
        raw = std::move(*bytes);
        Store store = ParseRegStore(raw);
        const std::string folded = *FoldRegKeyPath(subKey);
        if (store.keys.count(folded)) {
            key = Remember(std::move(store.values[folded]));
            return true;
        }
    } else if (errno != ENOENT) {
        return false;
    }
    const auto bytes = AppendKey(raw, subKey);
    if (!bytes || !ReplaceFile(target, *bytes, existsNow ? &old : nullptr))
        return false;
    key = Remember({});
    return true;
}

const Value *RegFileRegistry::Find(RegKey key, const std::string &name) const
{
    const auto it = open_.find(key);
    if (it == open_.end())
        return nullptr;
    for (const Value &v : it->second)
        if (EqualsIgnoreAsciiCase(v.Name, name))
            return &v;
    return nullptr;
}

bool RegFileRegistry::QueryValueInfo(RegKey key, const std::string &name, uint32_t &type,
                                     uint32_t &size)
{
    const Value *v = Find(key, name);
    if (!v || v->Data.size() > UINT32_MAX)
        return false;
    type = v->Type;
    size = static_cast<uint32_t>(v->Data.size());
    return true;
}

bool RegFileRegistry::QueryValueData(RegKey key, const std::string &name, uint32_t capacity,
                                     uint32_t &type, std::string &data)
{
    const Value *v = Find(key, name);
    if (!v || v->Data.size() > capacity)
        return false;
    type = v->Type;
    data = v->Data;
    return true;
}

void RegFileRegistry::CloseKey(RegKey key)
{
    open_.erase(key);
}

std::string DefaultRegistryStorePath()
{
    const char *path = std::getenv("KX_REGISTRY");
    return path && *path ? path : "/etc/kx/registry.reg";
}

} // namespace offline_upgrade
