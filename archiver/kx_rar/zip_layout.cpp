#include "zip_layout.h"

#include "rar_error.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kx_rar {

namespace {

constexpr size_t kRecordSize = 22;
constexpr size_t kMaxComment = 0xffff;
constexpr size_t kSearchedTail = kRecordSize + kMaxComment;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kZip64RecordSize = 56;
constexpr size_t kZip64LocatorSize = 20;
constexpr char kEndSignature[] = "PK\x05\x06";
constexpr char kCentralSignature[] = "PK\x01\x02";
constexpr char kLocalSignature[] = "PK\x03\x04";
constexpr char kZip64RecordSignature[] = "PK\x06\x06";
constexpr char kZip64LocatorSignature[] = "PK\x06\x07";
constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr uint16_t kAesExtraId = 0x9901;
constexpr uint16_t kAesMethod = 99;

// Little-endian fields.
uint64_t Le(const unsigned char *p, size_t bytes)
{
    uint64_t value = 0;
    for (size_t i = bytes; i-- > 0;)
        value = value << 8 | p[i];
    return value;
}

bool Is(const unsigned char *p, const char *signature)
{
    return std::memcmp(p, signature, 4) == 0;
}

// Reads exactly size bytes at offset; false at the end of the file or on an error.
bool ReadAt(fa::Native fd, void *data, size_t size, uint64_t offset)
{
    char *p = static_cast<char *>(data);
    while (size > 0) {
        const int64_t n = fa::ReadAt(fd, p, size, offset);
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

[[noreturn]] void Damaged(const std::string &path, const std::string &why)
{
    throw RarError(ExitCode::Fatal, "cannot read archive " + path + ": " + why);
}

// Reads forward through a file in blocks, so that walking thousands of small headers costs
// few system calls.
class BlockReader {
public:
    explicit BlockReader(fa::Native fd) : fd_(fd) {}

    // The size bytes at offset, valid until the next call; nullptr past the end of the file.
    const unsigned char *At(uint64_t offset, size_t size)
    {
        if (offset < start_ || offset + size > start_ + buffer_.size()) {
            buffer_.resize(std::max(size, kBlock));
            const int64_t n = ReadSome(offset);
            if (n < 0 || static_cast<size_t>(n) < size) {
                buffer_.clear();
                return nullptr;
            }
            buffer_.resize(static_cast<size_t>(n));
            start_ = offset;
        }
        return reinterpret_cast<const unsigned char *>(buffer_.data()) + (offset - start_);
    }

private:
    static constexpr size_t kBlock = 64 * 1024;

    int64_t ReadSome(uint64_t offset)
    {
        size_t got = 0;
        while (got < buffer_.size()) {
            const int64_t n =
                fa::ReadAt(fd_, buffer_.data() + got, buffer_.size() - got, offset + got);
            if (n < 0)
                return -1;
            if (n == 0)
                break;
            got += static_cast<size_t>(n);
        }
        return static_cast<int64_t>(got);
    }

    fa::Native fd_;
    uint64_t start_ = 0;
    std::string buffer_;
};

// The directory that the end record at recordAt names, through the ZIP64 end record when its
// locator precedes the record; false when the records' own fields disagree. A few reads of
// fixed size: this runs for every candidate record.
bool ReadEndRecords(fa::Native fd, const unsigned char *record, uint64_t recordAt, ZipEnd &end)
{
    const uint64_t disk = Le(record + 4, 2), cdDisk = Le(record + 6, 2);
    const uint64_t diskEntries = Le(record + 8, 2);
    end.Entries = Le(record + 10, 2);
    end.DirectorySize = Le(record + 12, 4);
    end.DirectoryAt = Le(record + 16, 4);
    uint64_t endsAt = recordAt;
    unsigned char locator[kZip64LocatorSize];
    const bool zip64 = recordAt >= kZip64LocatorSize &&
                       ReadAt(fd, locator, sizeof locator, recordAt - kZip64LocatorSize) &&
                       Is(locator, kZip64LocatorSignature);
    if (!zip64) {
        if (disk != 0 || cdDisk != 0 || diskEntries != end.Entries)
            return false;
    } else {
        const uint64_t zip64At = Le(locator + 8, 8);
        unsigned char z[kZip64RecordSize];
        if (Le(locator + 4, 4) != 0 || Le(locator + 16, 4) > 1 ||
            zip64At > recordAt - kZip64LocatorSize || !ReadAt(fd, z, sizeof z, zip64At) ||
            !Is(z, kZip64RecordSignature))
            return false;
        // The record's own size counts from after that field; it may carry extensible data.
        if (zip64At + 12 + Le(z + 4, 8) != recordAt - kZip64LocatorSize)
            return false;
        end.Entries = Le(z + 32, 8);
        end.DirectorySize = Le(z + 40, 8);
        end.DirectoryAt = Le(z + 48, 8);
        endsAt = zip64At;
        if (Le(z + 16, 4) != 0 || Le(z + 20, 4) != 0 || Le(z + 24, 8) != end.Entries)
            return false;
    }
    if (end.DirectoryAt > endsAt || endsAt - end.DirectoryAt != end.DirectorySize ||
        end.Entries > end.DirectorySize / kCentralHeaderSize ||
        (end.Entries == 0) != (end.DirectorySize == 0))
        return false;
    unsigned char first[4];
    return end.Entries == 0 ||
           (ReadAt(fd, first, sizeof first, end.DirectoryAt) && Is(first, kCentralSignature));
}

// Walks the central headers; calls visit(header, fixed-part pointer) for each. False when the
// directory does not hold exactly its number of complete headers.
template <typename Visit> bool WalkDirectory(fa::Native fd, const ZipEnd &end, Visit visit)
{
    BlockReader reader(fd);
    const uint64_t stop = end.DirectoryAt + end.DirectorySize;
    uint64_t at = end.DirectoryAt;
    for (uint64_t i = 0; i < end.Entries; ++i) {
        if (stop - at < kCentralHeaderSize)
            return false;
        const unsigned char *h = reader.At(at, kCentralHeaderSize);
        if (!h || !Is(h, kCentralSignature))
            return false;
        // The name, the extra field and the entry comment follow the fixed part.
        const uint64_t size = kCentralHeaderSize + Le(h + 28, 2) + Le(h + 30, 2) + Le(h + 32, 2);
        if (stop - at < size)
            return false;
        if (!visit(reader, at, size))
            return false;
        at += size;
    }
    return at == stop;
}

} // namespace

fa::Handle OpenArchiveFile(const std::string &path)
{
    fa::Handle fd = fa::OpenRead(path);
    fa::Info info;
    if (!fd.Valid() || !fa::Stat(fd.Get(), info))
        Damaged(path, fa::ErrorText());
    if (info.Type != fa::Kind::Regular)
        Damaged(path, "not a regular file");
    if (info.Size == 0)
        Damaged(path, "empty file");
    return fd;
}

ZipEnd FindZipEnd(fa::Native fd, const std::string &path)
{
    fa::Info info;
    if (!fa::Stat(fd, info))
        Damaged(path, fa::ErrorText());
    const uint64_t size = info.Size;
    const size_t tailSize = static_cast<size_t>(std::min<uint64_t>(size, kSearchedTail));
    const uint64_t tailAt = size - tailSize;
    std::string tail(tailSize, '\0');
    if (!ReadAt(fd, tail.data(), tail.size(), tailAt))
        Damaged(path, "cannot read its end: " + fa::ErrorText());
    const auto *t = reinterpret_cast<const unsigned char *>(tail.data());
    for (size_t at = 0; at + kRecordSize <= tail.size(); ++at) {
        if (!Is(t + at, kEndSignature) || Le(t + at + 20, 2) != tail.size() - at - kRecordSize)
            continue;
        ZipEnd end;
        if (!ReadEndRecords(fd, t + at, tailAt + at, end))
            continue;
        end.FileSize = size;
        end.RecordAt = tailAt + at;
        end.Comment = tail.substr(at + kRecordSize);
        if (!WalkDirectory(fd, end, [](BlockReader &, uint64_t, uint64_t) { return true; }))
            Damaged(path, "damaged central directory");
        return end;
    }
    Damaged(path, "not a ZIP archive or damaged (no valid end of central directory record)");
}

std::vector<ZipEntry> ReadZipEntries(fa::Native fd, const ZipEnd &end, const std::string &path)
{
    std::vector<ZipEntry> entries;
    entries.reserve(static_cast<size_t>(std::min<uint64_t>(end.Entries, 1u << 20)));
    std::string problem;
    const bool whole = WalkDirectory(fd, end, [&](BlockReader &reader, uint64_t at, uint64_t size) {
        const unsigned char *h = reader.At(at, static_cast<size_t>(size));
        if (!h)
            return false;
        ZipEntry e;
        e.Flags = static_cast<uint16_t>(Le(h + 8, 2));
        e.Method = static_cast<uint16_t>(Le(h + 10, 2));
        e.Encrypted = e.Flags & 1;
        e.Strong = e.Flags & 0x40;
        e.Crc = static_cast<uint32_t>(Le(h + 16, 4));
        e.CompressedSize = Le(h + 20, 4);
        e.Size = Le(h + 24, 4);
        e.LocalAt = Le(h + 42, 4);
        const size_t nameSize = Le(h + 28, 2), extraSize = Le(h + 30, 2);
        e.Name.assign(reinterpret_cast<const char *>(h) + kCentralHeaderSize, nameSize);
        // Extra fields: ZIP64 sizes and offset, each present only when its plain field is
        // all ones, in this order; the AES field with the method under the encryption.
        const unsigned char *x = h + kCentralHeaderSize + nameSize;
        const unsigned char *xEnd = x + extraSize;
        bool aesFound = false;
        while (xEnd - x >= 4) {
            const uint16_t id = static_cast<uint16_t>(Le(x, 2));
            const size_t length = Le(x + 2, 2);
            const unsigned char *data = x + 4;
            if (static_cast<size_t>(xEnd - data) < length)
                break;
            if (id == kZip64ExtraId) {
                size_t used = 0;
                for (uint64_t *field : {&e.Size, &e.CompressedSize, &e.LocalAt}) {
                    if (*field != 0xffffffff)
                        continue;
                    if (length - used < 8) {
                        problem = "a ZIP64 field is missing";
                        return false;
                    }
                    *field = Le(data + used, 8);
                    used += 8;
                }
            } else if (id == kAesExtraId && length >= 7) {
                aesFound = true;
                e.Aes = e.Method == kAesMethod;
                if (e.Aes) {
                    e.Method = static_cast<uint16_t>(Le(data + 5, 2));
                    e.AesVersion = static_cast<uint16_t>(Le(data, 2));
                    e.AesStrength = data[4];
                }
            }
            x = data + length;
        }
        if (e.Method == kAesMethod && !aesFound) {
            problem = "an AES entry without its extra field";
            return false;
        }
        entries.push_back(std::move(e));
        return true;
    });
    if (!whole)
        Damaged(path, "damaged central directory" + (problem.empty() ? "" : ": " + problem));
    std::stable_sort(entries.begin(), entries.end(),
                     [](const ZipEntry &a, const ZipEntry &b) { return a.LocalAt < b.LocalAt; });
    return entries;
}

void CheckEntryData(fa::Native fd, std::vector<ZipEntry> &entries, const ZipEnd &end,
                    const std::string &path)
{
    BlockReader reader(fd);
    uint64_t usedUpTo = 0; // entries are in the order of their local headers
    for (ZipEntry &e : entries) {
        const auto refuse = [&](const std::string &why) {
            Damaged(path, "entry \"" + e.Name + "\" " + why);
        };
        if (e.LocalAt < usedUpTo)
            refuse("shares its data with another entry");
        if (e.LocalAt > end.DirectoryAt || end.DirectoryAt - e.LocalAt < kLocalHeaderSize)
            refuse("lies outside the archive's data");
        const unsigned char *h = reader.At(e.LocalAt, kLocalHeaderSize);
        if (!h || !Is(h, kLocalSignature))
            refuse("has no local header where the central directory says");
        const size_t nameSize = Le(h + 26, 2), extraSize = Le(h + 28, 2);
        const uint16_t flags = static_cast<uint16_t>(Le(h + 6, 2));
        const uint16_t method = static_cast<uint16_t>(Le(h + 8, 2));
        e.LocalTime = static_cast<uint16_t>(Le(h + 10, 2));
        // h is gone once the reader moves on.
        const unsigned char *name = reader.At(e.LocalAt + kLocalHeaderSize, nameSize);
        if (!name || std::string(reinterpret_cast<const char *>(name), nameSize) != e.Name)
            refuse("has another name in its local header");
        if ((flags & 0x41) != (e.Flags & 0x41) || method != (e.Aes ? kAesMethod : e.Method))
            refuse("has another method or encryption in its local header");
        e.DataAt = e.LocalAt + kLocalHeaderSize + nameSize + extraSize;
        if (e.DataAt > end.DirectoryAt || end.DirectoryAt - e.DataAt < e.CompressedSize)
            refuse("lies outside the archive's data");
        e.DataEnd = e.DataAt + e.CompressedSize;
        usedUpTo = e.DataEnd;
    }
}

std::string MethodName(uint16_t method)
{
    switch (method) {
    case 0:
        return "stored";
    case 8:
        return "deflate";
    case 9:
        return "deflate64";
    case 12:
        return "bzip2";
    case 14:
        return "LZMA";
    case 93:
        return "zstd";
    case 95:
        return "xz";
    case 98:
        return "PPMd";
    default:
        return "method " + std::to_string(method);
    }
}

std::string UnsupportedMethod(const ZipEntry &entry, const Decoders &decoders)
{
    if (entry.Strong)
        return "strong encryption is not supported";
    const uint16_t m = entry.Method;
    if (entry.Encrypted && m != 0 && m != 8)
        return "encrypted " + MethodName(m) +
               " data is not supported (only stored and deflate entries may be encrypted)";
    const bool known = m == 0 || m == 8 || m == 98 || (m == 12 && decoders.Bzip2) ||
                       ((m == 14 || m == 95) && decoders.Lzma);
    if (!known)
        return MethodName(m) + " data is not supported";
    return {};
}

} // namespace kx_rar
