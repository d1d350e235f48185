#include "eocd_comment.h"

#include "rar_error.h"
#include "unique_fd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace {

constexpr size_t kRecordSize = 22;
constexpr size_t kMaxComment = 0xffff;
// "PK\5\6", and the offset of the comment length in the record.
constexpr unsigned char kSignature[4] = {0x50, 0x4b, 0x05, 0x06};
constexpr size_t kLengthOffset = 20;

[[noreturn]] void Fail(const std::string &path, const std::string &why)
{
    throw RarError(ExitCode::Fatal, "cannot set the comment of " + path + ": " + why);
}

void WriteAt(int fd, const void *data, size_t size, off_t offset, const std::string &path)
{
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = pwrite(fd, p, size, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            Fail(path, std::strerror(errno));
        p += n;
        size -= static_cast<size_t>(n);
        offset += n;
    }
}

// Little-endian fields.
uint64_t Le(const unsigned char *p, size_t bytes)
{
    uint64_t value = 0;
    for (size_t i = bytes; i-- > 0;)
        value = value << 8 | p[i];
    return value;
}

// Reads exactly size bytes at offset; false at the end of the file or on an error.
bool ReadAt(int fd, void *data, size_t size, uint64_t offset)
{
    char *p = static_cast<char *>(data);
    while (size > 0) {
        const ssize_t n = pread(fd, p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

constexpr unsigned char kCentralSignature[4] = {0x50, 0x4b, 0x01, 0x02};
constexpr unsigned char kZip64RecordSignature[4] = {0x50, 0x4b, 0x06, 0x06};
constexpr unsigned char kZip64LocatorSignature[4] = {0x50, 0x4b, 0x06, 0x07};
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kZip64RecordSize = 56;
constexpr size_t kZip64LocatorSize = 20;
// The end record and the longest comment.
constexpr size_t kSearchedTail = kRecordSize + kMaxComment;

// Where the central directory lies and how many entries it holds, as the end records say.
struct CentralDirectory {
    uint64_t Offset = 0;
    uint64_t Size = 0;
    uint64_t Entries = 0;
    uint64_t EndsAt = 0; // where the (ZIP64) end records begin
};

// The central directory of the end record at recordAt, through the ZIP64 end record when a
// locator precedes the record; false when those records do not hold together.
bool FindCentralDirectory(int fd, const unsigned char *record, uint64_t recordAt,
                          CentralDirectory &cd)
{
    // A single disk only: the number of this disk, the disk of the directory, and the entries
    // on this disk against all entries.
    const uint64_t disk = Le(record + 4, 2), cdDisk = Le(record + 6, 2);
    const uint64_t diskEntries = Le(record + 8, 2);
    cd.Entries = Le(record + 10, 2);
    cd.Size = Le(record + 12, 4);
    cd.Offset = Le(record + 16, 4);
    cd.EndsAt = recordAt;
    unsigned char locator[kZip64LocatorSize];
    if (recordAt < kZip64LocatorSize ||
        !ReadAt(fd, locator, sizeof locator, recordAt - kZip64LocatorSize) ||
        std::memcmp(locator, kZip64LocatorSignature, 4) != 0)
        return disk == 0 && cdDisk == 0 && diskEntries == cd.Entries;

    const uint64_t zip64At = Le(locator + 8, 8);
    unsigned char zip64[kZip64RecordSize];
    if (Le(locator + 4, 4) != 0 || Le(locator + 16, 4) > 1 ||
        zip64At > recordAt - kZip64LocatorSize || !ReadAt(fd, zip64, sizeof zip64, zip64At) ||
        std::memcmp(zip64, kZip64RecordSignature, 4) != 0)
        return false;
    // The record's own size counts from after that field; it may carry extensible data.
    if (zip64At + 12 + Le(zip64 + 4, 8) != recordAt - kZip64LocatorSize)
        return false;
    cd.Entries = Le(zip64 + 32, 8);
    cd.Size = Le(zip64 + 40, 8);
    cd.Offset = Le(zip64 + 48, 8);
    cd.EndsAt = zip64At;
    return Le(zip64 + 16, 4) == 0 && Le(zip64 + 20, 4) == 0 && Le(zip64 + 24, 8) == cd.Entries;
}

// True when the central directory ends right where the end records begin and holds exactly
// its number of complete entry headers.
bool CentralDirectoryHoldsTogether(int fd, const CentralDirectory &cd)
{
    if (cd.Offset > cd.EndsAt || cd.EndsAt - cd.Offset != cd.Size ||
        cd.Entries > cd.Size / kCentralHeaderSize)
        return false;
    std::string bytes(static_cast<size_t>(cd.Size), '\0');
    if (!ReadAt(fd, bytes.data(), bytes.size(), cd.Offset))
        return false;
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    size_t at = 0;
    for (uint64_t i = 0; i < cd.Entries; ++i) {
        if (bytes.size() - at < kCentralHeaderSize ||
            std::memcmp(p + at, kCentralSignature, sizeof kCentralSignature) != 0)
            return false;
        // The name, the extra field and the entry comment follow the fixed part.
        const size_t header =
            kCentralHeaderSize + Le(p + at + 28, 2) + Le(p + at + 30, 2) + Le(p + at + 32, 2);
        if (bytes.size() - at < header)
            return false;
        at += header;
    }
    return at == bytes.size();
}

[[noreturn]] void CannotRead(const std::string &path, const std::string &why)
{
    throw RarError(ExitCode::Fatal, "cannot read archive " + path + ": " + why);
}

} // namespace

void AppendArchiveComment(const std::string &path, const std::string &comment)
{
    if (comment.size() > kMaxComment)
        Fail(path, "longer than 65535 bytes");
    UniqueFd fd(open(path.c_str(), O_RDWR | O_CLOEXEC));
    struct stat info {};
    if (!fd.Valid() || fstat(fd.Get(), &info) != 0)
        Fail(path, std::strerror(errno));
    if (info.st_size < static_cast<off_t>(kRecordSize))
        Fail(path, "no end record");
    const off_t recordAt = info.st_size - static_cast<off_t>(kRecordSize);
    unsigned char record[kRecordSize];
    if (pread(fd.Get(), record, kRecordSize, recordAt) != static_cast<ssize_t>(kRecordSize))
        Fail(path, "cannot read the end record");
    if (std::memcmp(record, kSignature, sizeof kSignature) != 0 || record[kLengthOffset] != 0 ||
        record[kLengthOffset + 1] != 0)
        Fail(path, "no end record without comment at the end");
    // The comment follows the record; its length is a little-endian 16-bit field.
    WriteAt(fd.Get(), comment.data(), comment.size(), info.st_size, path);
    const unsigned char length[2] = {static_cast<unsigned char>(comment.size() & 0xff),
                                     static_cast<unsigned char>(comment.size() >> 8)};
    WriteAt(fd.Get(), length, sizeof length, recordAt + static_cast<off_t>(kLengthOffset), path);
    if (!fd.Close())
        Fail(path, std::strerror(errno));
}

std::string ReadArchiveComment(const std::string &path)
{
    const UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (!fd.Valid() || fstat(fd.Get(), &info) != 0)
        CannotRead(path, std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        CannotRead(path, "not a file");
    if (info.st_size == 0)
        CannotRead(path, "empty file");
    const uint64_t size = static_cast<uint64_t>(info.st_size);
    const size_t tailSize = static_cast<size_t>(std::min<uint64_t>(size, kSearchedTail));
    const uint64_t tailAt = size - tailSize;
    std::string tail(tailSize, '\0');
    if (!ReadAt(fd.Get(), tail.data(), tail.size(), tailAt))
        CannotRead(path, std::strerror(errno ? errno : EIO));
    const auto *t = reinterpret_cast<const unsigned char *>(tail.data());
    // The first record that holds together: a record's comment follows it, so a signature
    // inside the comment never comes before the true record.
    for (size_t at = 0; at + kRecordSize <= tail.size(); ++at) {
        if (std::memcmp(t + at, kSignature, sizeof kSignature) != 0)
            continue;
        const size_t length = static_cast<size_t>(Le(t + at + kLengthOffset, 2));
        if (tail.size() - at - kRecordSize < length)
            continue;
        CentralDirectory cd;
        if (!FindCentralDirectory(fd.Get(), t + at, tailAt + at, cd) ||
            !CentralDirectoryHoldsTogether(fd.Get(), cd))
            continue;
        return tail.substr(at + kRecordSize, length);
    }
    CannotRead(path, "not a ZIP archive or damaged (no valid end of central directory record)");
}
