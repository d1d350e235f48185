// The registry for POSIX: stands in for RegOpenKeyExA, RegCreateKeyExA, RegQueryValueExA and
// RegCloseKey on the local machine root, over one exported registry file. No value is written,
// no key is deleted, nothing is enumerated.

#include "platform/posix/registry_posix.h"

#include "platform/codepage.h"
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

const char kRootName[] = "HKEY_LOCAL_MACHINE";
const char kHeaderV5[] = "Windows Registry Editor Version 5.00";
const char kHeaderV4[] = "REGEDIT4";
const char kUtf16Bom[] = "\xFF\xFE";
const char kUtf8Bom[] = "\xEF\xBB\xBF";
const mode_t kNewStoreMode = 0600; // it holds database logins and stored passwords
const mode_t kNewFolderMode = 0755;

using Value = RegFileRegistry::Value;

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

// The code point starting at text[i], advancing i; an invalid sequence gives U+FFFD for its
// first byte.
char32_t NextCodePoint(std::string_view text, size_t &i)
{
    const auto c = static_cast<unsigned char>(text[i]);
    size_t len = c < 0x80                 ? 1
                 : c >= 0xC2 && c <= 0xDF ? 2
                 : c >= 0xE0 && c <= 0xEF ? 3
                 : c >= 0xF0 && c <= 0xF4 ? 4
                                          : 0;
    if (len == 0 || i + len > text.size() || !IsValidUtf8(text.substr(i, len))) {
        ++i;
        return 0xFFFD;
    }
    char32_t cp = len == 1 ? c : c & (0xFF >> (len + 1));
    for (size_t k = 1; k < len; ++k)
        cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    i += len;
    return cp;
}

std::string Utf8ToUtf16Le(std::string_view text)
{
    std::string out;
    out.reserve(text.size() * 2);
    auto put = [&](char32_t u) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    };
    for (size_t i = 0; i < text.size();) {
        const char32_t cp = NextCodePoint(text, i);
        if (cp >= 0x10000) {
            put(0xD800 + ((cp - 0x10000) >> 10));
            put(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            put(cp);
        }
    }
    return out;
}

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

enum class Encoding { Utf16Le, Utf8, Gb18030 };

// --- Parsing --------------------------------------------------------------------------------

struct Store {
    Encoding encoding = Encoding::Utf8;
    std::string text;           // the file decoded to UTF-8
    std::string eol;            // the file's first line end; CR LF when it has none
    std::set<std::string> keys; // folded paths, parents included
    std::map<std::string, std::vector<Value>> values; // by folded path
};

std::string FoldAscii(std::string_view s)
{
    std::string out(s);
    for (char &c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - ('a' - 'A'));
    return out;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix)
{
    return s.size() >= prefix.size() && EqualsIgnoreAsciiCase(s.substr(0, prefix.size()), prefix);
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// 1 to 8 hex digits and nothing else.
std::optional<uint32_t> ParseHex32(std::string_view s)
{
    if (s.empty() || s.size() > 8)
        return std::nullopt;
    uint32_t v = 0;
    for (char c : s) {
        const int d = HexDigit(c);
        if (d < 0)
            return std::nullopt;
        v = (v << 4) | static_cast<uint32_t>(d);
    }
    return v;
}

// "01,ab, 2f," : bytes of one or two hex digits between commas, each right before its comma
// (blanks may follow a comma, not precede one); a trailing comma is allowed.
std::optional<std::string> ParseHexList(std::string_view s)
{
    std::string out;
    s = TrimBlanks(s);
    if (s.empty())
        return out;
    size_t start = 0;
    for (;;) {
        const size_t comma = s.find(',', start);
        std::string_view token =
            s.substr(start, comma == std::string_view::npos ? s.npos : comma - start);
        while (!token.empty() && IsBlank(token.front()))
            token.remove_prefix(1);
        if (token.empty())
            return comma == std::string_view::npos ? std::optional(out) : std::nullopt;
        const auto byte = token.size() <= 2 ? ParseHex32(token) : std::nullopt;
        if (!byte)
            return std::nullopt;
        out += static_cast<char>(*byte);
        if (comma == std::string_view::npos)
            return out;
        start = comma + 1;
    }
}

// A quoted text at s[i] == '"' with the escapes \\ and \"; any other backslash stays as it is.
// On success i is just past the closing quote.
bool ParseQuoted(std::string_view s, size_t &i, std::string &out)
{
    for (++i; i < s.size(); ++i) {
        if (s[i] == '"') {
            ++i;
            return true;
        }
        if (s[i] == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"'))
            ++i;
        out += s[i];
    }
    return false;
}

// The folded path of a key below the root, or nothing when a name is empty or holds a control
// character (those cannot be written back as one line). "" is the root itself.
std::optional<std::string> FoldKeyPath(std::string_view subKey)
{
    if (subKey.empty())
        return std::string();
    size_t start = 0;
    for (;;) {
        const size_t sep = subKey.find('\\', start);
        const std::string_view name =
            subKey.substr(start, sep == std::string_view::npos ? subKey.npos : sep - start);
        if (name.empty())
            return std::nullopt;
        for (char c : name)
            if (static_cast<unsigned char>(c) < 0x20)
                return std::nullopt;
        if (sep == std::string_view::npos)
            break;
        start = sep + 1;
    }
    return FoldAscii(subKey);
}

// "[HKEY_LOCAL_MACHINE\a\b]" -> folded "A\B"; nothing for other roots, deletions and
// malformed paths. As the registry editor reads it, the path ends at the last "]" of the line
// (a comment may follow) and empty names between backslashes are dropped, so "[...\\a\]" is
// "...\a".
std::optional<std::string> ParseKeyLine(std::string_view line)
{
    const size_t close = line.rfind(']');
    if (close == std::string_view::npos)
        return std::nullopt;
    const std::string_view inner = line.substr(1, close - 1);
    const size_t sep = inner.find('\\');
    if (!EqualsIgnoreAsciiCase(inner.substr(0, sep), kRootName))
        return std::nullopt;
    std::string path;
    for (size_t start = sep; start != std::string_view::npos && start < inner.size();) {
        const size_t next = inner.find('\\', start + 1);
        const std::string_view name = inner.substr(
            start + 1, next == std::string_view::npos ? inner.npos : next - start - 1);
        if (!name.empty())
            path += (path.empty() ? "" : "\\") + std::string(name);
        start = next;
    }
    return FoldKeyPath(path);
}

// A ";" after the data starts a comment, as in the registry editor.
std::string_view WithoutComment(std::string_view data)
{
    return data.substr(0, data.find(';'));
}

// Nothing but blanks, or a comment, after the data.
bool IsEndOfData(std::string_view rest)
{
    rest = TrimBlanks(rest);
    return rest.empty() || rest.front() == ';';
}

bool IsHexData(std::string_view data)
{
    return StartsWithNoCase(data, "hex:") || StartsWithNoCase(data, "hex(");
}

bool IsStringType(uint32_t type)
{
    return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

// The data after "=": a quoted text, dword:, hex: or hex(N):.
std::optional<Value> ParseData(std::string_view data, bool unicodeHex)
{
    Value value{{}, kRegNone, {}};
    if (!data.empty() && data.front() == '"') {
        size_t i = 0;
        if (!ParseQuoted(data, i, value.Data) || !IsEndOfData(data.substr(i)))
            return std::nullopt;
        value.Type = kRegSz;
        value.Data += '\0'; // stored with its terminator, as an import stores it
        return value;
    }
    if (StartsWithNoCase(data, "dword:")) {
        const auto number = ParseHex32(TrimBlanks(WithoutComment(data.substr(6))));
        if (!number)
            return std::nullopt;
        value.Type = kRegDword;
        for (int k = 0; k < 4; ++k)
            value.Data += static_cast<char>((*number >> (8 * k)) & 0xFF);
        return value;
    }
    std::string_view list;
    if (StartsWithNoCase(data, "hex:")) {
        value.Type = kRegBinary;
        list = data.substr(4);
    } else if (StartsWithNoCase(data, "hex(")) {
        const size_t close = data.find("):");
        const auto type = close == data.npos ? std::nullopt : ParseHex32(data.substr(4, close - 4));
        if (!type)
            return std::nullopt;
        value.Type = *type;
        list = data.substr(close + 2);
    } else {
        return std::nullopt;
    }
    auto bytes = ParseHexList(WithoutComment(list));
    if (!bytes)
        return std::nullopt;
    // String data is handed out in the system code page, as the 8-bit registry calls do.
    if (IsStringType(value.Type)) {
        value.Data = unicodeHex ? Utf16ToUtf8(*bytes) : ToSystemText(*bytes);
        // The import closes string data that lacks its terminator.
        if (!value.Data.empty() && value.Data.back() != '\0')
            value.Data += '\0';
    } else {
        value.Data = std::move(*bytes);
    }
    return value;
}

// Splits text into lines; CR LF, LF and a lone CR each end one.
std::vector<std::string_view> SplitLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find_first_of("\r\n", start);
        if (end == text.npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start =
            end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
    }
    return lines;
}

// Hex data goes on over the lines that follow one ending in ",\" (or "hex:\"), as the
// registry editor reads it: comments and blank lines in between are skipped, and the next
// other line is data whatever it holds, even a key line. A backslash after anything but a
// comma, or a continuation line that holds nothing but it, spoils the value; the line after
// it is then read on its own. first is the data of the value line; i moves to the last line
// taken. Comments are cut from every piece.
std::optional<std::string> JoinHexLines(const std::vector<std::string_view> &lines, size_t &i,
                                        std::string_view first)
{
    std::string joined;
    std::string_view piece = first;
    for (bool firstPiece = true;; firstPiece = false) {
        piece = TrimBlanks(WithoutComment(piece));
        if (!piece.ends_with('\\')) {
            joined += piece;
            return joined;
        }
        piece.remove_suffix(1);
        piece = TrimBlanks(piece);
        if (!(piece.ends_with(',') || (firstPiece && piece.ends_with(':'))))
            return std::nullopt;
        joined += piece;
        size_t next = i + 1;
        for (; next < lines.size(); ++next) {
            const std::string_view line = TrimBlanks(lines[next]);
            if (!line.empty() && line.front() != ';')
                break;
        }
        if (next >= lines.size()) {
            i = lines.size() - 1;
            return joined;
        }
        i = next;
        piece = lines[next];
    }
}

void AddKey(Store &store, const std::string &folded)
{
    store.keys.insert(folded);
    for (size_t sep = folded.rfind('\\'); sep != std::string::npos;
         sep = sep == 0 ? std::string::npos : folded.rfind('\\', sep - 1))
        store.keys.insert(folded.substr(0, sep));
    store.keys.insert(std::string());
}

void SetValue(std::vector<Value> &values, Value value)
{
    for (Value &v : values) {
        if (EqualsIgnoreAsciiCase(v.Name, value.Name)) {
            v = std::move(value);
            return;
        }
    }
    values.push_back(std::move(value));
}

Store ParseStore(const std::string &raw)
{
    Store store;
    std::string_view body = raw;
    if (body.starts_with(kUtf16Bom)) {
        store.encoding = Encoding::Utf16Le;
        store.text = Utf16ToUtf8(body.substr(2));
    } else {
        if (body.starts_with(kUtf8Bom))
            body.remove_prefix(3);
        store.text = std::string(body);
        if (!IsValidUtf8(store.text)) {
            store.encoding = Encoding::Gb18030;
            store.text = ToSystemText(store.text);
        }
    }
    const size_t end = store.text.find_first_of("\r\n");
    store.eol = end == std::string::npos                  ? "\r\n"
                : store.text[end] == '\n'                 ? "\n"
                : store.text.compare(end, 2, "\r\n") == 0 ? "\r\n"
                                                          : "\r";
    store.keys.insert(std::string()); // the root exists with the store

    const std::vector<std::string_view> lines = SplitLines(store.text);
    size_t i = 0;
    bool unicodeHex = false;
    if (!lines.empty()) {
        const std::string_view first = TrimBlanks(lines[0]);
        if (first == kHeaderV5) {
            unicodeHex = true;
            i = 1;
        } else if (first == kHeaderV4) {
            i = 1;
        }
    }
    std::optional<std::string> current; // the key the value lines belong to, if any
    for (; i < lines.size(); ++i) {
        const std::string_view line = TrimBlanks(lines[i]);
        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            // A key line that does not parse takes its value lines with it.
            current = ParseKeyLine(line);
            if (current)
                AddKey(store, *current);
            continue;
        }
        Value head{{}, kRegNone, {}};
        size_t pos = 0;
        if (line.front() == '@') {
            pos = 1;
        } else if (line.front() != '"' || !ParseQuoted(line, pos, head.Name)) {
            continue; // not a value line
        }
        while (pos < line.size() && IsBlank(line[pos]))
            ++pos;
        if (pos >= line.size() || line[pos] != '=')
            continue;
        std::string data(TrimBlanks(line.substr(pos + 1)));
        if (IsHexData(data)) {
            std::optional<std::string> joined = JoinHexLines(lines, i, data);
            if (!joined)
                continue;
            data = std::move(*joined);
        }
        if (!current)
            continue;
        auto value = ParseData(data, unicodeHex);
        if (!value)
            continue;
        value->Name = std::move(head.Name);
        SetValue(store.values[*current], std::move(*value));
    }
    return store;
}

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
        section = std::string("[") + kRootName + "\\" + subKey + "]";
    if (raw.empty()) {
        std::string text = std::string(kHeaderV5) + "\r\n\r\n";
        if (!section.empty())
            text += section + "\r\n\r\n";
        return kUtf16Bom + Utf8ToUtf16Le(text);
    }
    const Store store = ParseStore(raw);
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
    const auto folded = FoldKeyPath(subKey);
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
    Store store = ParseStore(*raw);
    if (!store.keys.count(*folded))
        return false;
    key = Remember(std::move(store.values[*folded]));
    return true;
}

bool RegFileRegistry::CreateKey(const std::string &subKey, RegKey &key)
{
    key = kNoRegKey;
    if (!FoldKeyPath(subKey) || !IsValidUtf8(subKey))
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
        Store store = ParseStore(raw);
        const std::string folded = *FoldKeyPath(subKey);
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
