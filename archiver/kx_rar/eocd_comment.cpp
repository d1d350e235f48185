#include "eocd_comment.h"

#include "file_access.h"
#include "rar_error.h"
#include "zip_layout.h"

#include <cstdint>
#include <cstring>

namespace kx_rar {

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

void WriteAt(fa::Native fd, const void *data, size_t size, uint64_t offset, const std::string &path)
{
    if (!fa::WriteAt(fd, data, size, offset))
        Fail(path, fa::ErrorText());
}

} // namespace

void AppendArchiveComment(const std::string &path, const std::string &comment)
{
    if (comment.size() > kMaxComment)
        Fail(path, "longer than 65535 bytes");
    fa::Handle fd = fa::OpenReadWrite(path);
    fa::Info info;
    if (!fd.Valid() || !fa::Stat(fd.Get(), info))
        Fail(path, fa::ErrorText());
    if (info.Size < kRecordSize)
        Fail(path, "no end record");
    const uint64_t recordAt = info.Size - kRecordSize;
    unsigned char record[kRecordSize];
    if (fa::ReadAt(fd.Get(), record, kRecordSize, recordAt) != static_cast<int64_t>(kRecordSize))
        Fail(path, "cannot read the end record");
    if (std::memcmp(record, kSignature, sizeof kSignature) != 0 || record[kLengthOffset] != 0 ||
        record[kLengthOffset + 1] != 0)
        Fail(path, "no end record without comment at the end");
    // The comment follows the record; its length is a little-endian 16-bit field.
    WriteAt(fd.Get(), comment.data(), comment.size(), info.Size, path);
    const unsigned char length[2] = {static_cast<unsigned char>(comment.size() & 0xff),
                                     static_cast<unsigned char>(comment.size() >> 8)};
    WriteAt(fd.Get(), length, sizeof length, recordAt + kLengthOffset, path);
    if (!fd.Close())
        Fail(path, fa::ErrorText());
}

std::string ReadArchiveComment(const std::string &path)
{
    const fa::Handle fd = OpenArchiveFile(path);
    return FindZipEnd(fd.Get(), path).Comment;
}

} // namespace kx_rar
