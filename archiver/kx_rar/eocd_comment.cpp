#include "eocd_comment.h"

#include "rar_error.h"
#include "unique_fd.h"
#include "zip_layout.h"

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
    const UniqueFd fd = OpenArchiveFile(path);
    return FindZipEnd(fd.Get(), path).Comment;
}
