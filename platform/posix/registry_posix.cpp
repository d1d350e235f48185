// The registry for POSIX: stands in for RegOpenKeyExA, RegCreateKeyExA, RegQueryValueExA and
// RegCloseKey on the local machine root, over one exported registry file. No value is written,
// no key is deleted, nothing is enumerated.

#include "platform/posix/registry_posix.h"

#include "platform/reg_store.h"
#include "platform/text.h"

#include <fcntl.h>
#include <iconv.h>
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

namespace {

const mode_t kNewStoreMode = 0600; // it holds database logins and stored passwords
const mode_t kNewFolderMode = 0755;

using Value = RegStoreValue;

class FileHandle {
public:
    explicit FileHandle(int fd = -1) : fd_(fd) {}
    ~FileHandle() { Reset(); }
    FileHandle(const FileHandle &) = delete;
    FileHandle &operator=(const FileHandle &) = delete;
    int get() const { return fd_; }
    void Reset(int fd = -1)
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }
    // Closes now, reporting whether the close (and so a delayed write error) succeeded.
    bool Close()
    {
        const int fd = std::exchange(fd_, -1);
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_;
};

// A temporary file that is removed unless it was renamed into place.
class TempFile {
public:
    explicit TempFile(std::string path) : path_(std::move(path)) {}
    ~TempFile()
    {
        if (!path_.empty())
            ::unlink(path_.c_str());
    }
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    void Keep() { path_.clear(); }

private:
    std::string path_;
};

class Iconv {
public:
    Iconv(const char *to, const char *from) : cd_(::iconv_open(to, from)) {}
    ~Iconv()
    {
        if (ok())
            ::iconv_close(cd_);
    }
    Iconv(const Iconv &) = delete;
    Iconv &operator=(const Iconv &) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

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

bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// --- Text encodings -------------------------------------------------------------------------

std::optional<std::string> Utf8ToGb18030(std::string_view text)
{
    Iconv converter("GB18030", "UTF-8");
    if (!converter.ok())
        return std::nullopt;
    std::string in(text);
    char *src = in.data();
    size_t srcLeft = in.size();
    std::string out(in.size() * 4 + 16, '\0');
    char *dst = out.data();
    size_t dstLeft = out.size();
    if (::iconv(converter.get(), &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1))
        return std::nullopt;
    out.resize(out.size() - dstLeft);
    return out;
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

// Writes bytes to a temporary file beside target, flushes it to disk and renames it over
// target; the file keeps target's permission bits and, where allowed, its owner.
bool ReplaceFile(const std::filesystem::path &target, const std::string &bytes,
                 const struct stat *old)
{
    const std::filesystem::path folder = target.parent_path();
    std::string pattern = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    FileHandle file(::mkstemp(pattern.data()));
    if (file.get() < 0)
        return false;
    TempFile temp(pattern);
    const mode_t mode = old ? (old->st_mode & 07777) : kNewStoreMode;
    if (::fchmod(file.get(), mode) != 0)
        return false;
    if (old && ::fchown(file.get(), old->st_uid, old->st_gid) != 0) {
        // Not ours to give away: keep at least the group when we belong to it.
        [[maybe_unused]] int ignored = ::fchown(file.get(), static_cast<uid_t>(-1), old->st_gid);
    }
    if (!WriteAll(file.get(), bytes) || ::fsync(file.get()) != 0)
        return false;
    if (!file.Close() || ::rename(pattern.c_str(), target.c_str()) != 0)
        return false;
    temp.Keep();
    // The rename itself must reach the disk before the store counts as written.
    FileHandle dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        ::fsync(dir.get());
    return true;
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
    FileHandle file(::open(storePath_.c_str(), O_RDWR | O_CLOEXEC));
    if (file.get() < 0)
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
    FileHandle probe(::open(target.c_str(), O_RDWR | O_CLOEXEC));
    const bool exists = probe.get() >= 0;
    if (!exists && errno != ENOENT)
        return false; // there, but not ours to write
    if (exists && (::fstat(probe.get(), &old) != 0 || !S_ISREG(old.st_mode)))
        return false;
    probe.Reset();
    if (!MakeFolders(target.parent_path()))
        return false;

    // Writers take turns on a lock file beside the store; the store itself is replaced by
    // rename, so a lock on it would be lost with the old file.
    const std::string lockPath = target.string() + ".lock";
    FileHandle lock(::open(lockPath.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC,
                           exists ? (old.st_mode & 0666) : kNewStoreMode));
    if (lock.get() < 0)
        return false;
    while (::flock(lock.get(), LOCK_EX) != 0)
        if (errno != EINTR)
            return false;

    // Under the lock, read again: another writer may have changed the store meanwhile.
    std::string raw;
    FileHandle file(::open(target.c_str(), O_RDWR | O_CLOEXEC));
    const bool existsNow = file.get() >= 0;
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
