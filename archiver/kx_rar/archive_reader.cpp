#include "archive_reader.h"

#include "entry_text.h"
#include "rar_error.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kx_rar {

namespace {

// Big enough that the small entries of a package come in few reads, small enough to keep
// memory low with one reader per thread.
constexpr size_t kReadBlock = 128 * 1024;
constexpr uint64_t kRecordSize = 22;

bool Contains(const char *text, const char *part)
{
    return text && std::strstr(text, part);
}

} // namespace

ArchiveReader::ArchiveReader(fa::Native fd, const ZipEnd &end, const std::string &path,
                             const std::optional<std::string> &password)
    : a_(archive_read_new()), path_(path), fd_(fd), viewEnd_(end.RecordAt + kRecordSize),
      buffer_(kReadBlock, '\0')
{
    if (!a_)
        throw RarError(ExitCode::Fatal, "out of memory");
    // The seekable reader takes names, sizes and checksums from the central directory, as
    // the archive's final word on its entries, and skips unwanted data without reading it.
    archive_read_support_format_zip_seekable(a_);
    PrepareNameReading(a_);
    if (password)
        archive_read_add_passphrase(a_, password->c_str());
    archive_read_set_callback_data(a_, this);
    archive_read_set_read_callback(a_, ReadCallback);
    archive_read_set_seek_callback(a_, SeekCallback);
    archive_read_set_skip_callback(a_, SkipCallback);
    if (archive_read_open1(a_) != ARCHIVE_OK) {
        const std::string why = archive_error_string(a_) ? archive_error_string(a_) : "";
        archive_read_free(a_);
        throw RarError(ExitCode::Fatal, "cannot read archive " + path + ": " + why);
    }
}

la_ssize_t ArchiveReader::ReadCallback(archive *a, void *self, const void **buffer)
{
    auto *r = static_cast<ArchiveReader *>(self);
    *buffer = r->buffer_.data();
    if (r->position_ >= r->viewEnd_)
        return 0;
    const size_t want =
        static_cast<size_t>(std::min<uint64_t>(r->buffer_.size(), r->viewEnd_ - r->position_));
    const int64_t n = fa::ReadAt(r->fd_, r->buffer_.data(), want, r->position_);
    if (n < 0) {
        archive_set_error(a, EIO, "%s", fa::ErrorText().c_str());
        return ARCHIVE_FATAL;
    }
    // The comment length, the record's last two bytes, reads as zero.
    for (uint64_t at = r->viewEnd_ - 2; at < r->viewEnd_; ++at) {
        if (at >= r->position_ && at < r->position_ + static_cast<uint64_t>(n))
            r->buffer_[static_cast<size_t>(at - r->position_)] = '\0';
    }
    r->position_ += static_cast<uint64_t>(n);
    return n;
}

la_int64_t ArchiveReader::SeekCallback(archive *, void *self, la_int64_t offset, int whence)
{
    auto *r = static_cast<ArchiveReader *>(self);
    int64_t base = 0;
    if (whence == SEEK_CUR)
        base = static_cast<int64_t>(r->position_);
    else if (whence == SEEK_END)
        base = static_cast<int64_t>(r->viewEnd_);
    const int64_t target = base + offset;
    if (target < 0)
        return ARCHIVE_FATAL;
    r->position_ = static_cast<uint64_t>(target);
    return target;
}

la_int64_t ArchiveReader::SkipCallback(archive *, void *self, la_int64_t request)
{
    auto *r = static_cast<ArchiveReader *>(self);
    const uint64_t left = r->position_ < r->viewEnd_ ? r->viewEnd_ - r->position_ : 0;
    const uint64_t skipped =
        std::min<uint64_t>(left, static_cast<uint64_t>(std::max<la_int64_t>(request, 0)));
    r->position_ += skipped;
    return static_cast<la_int64_t>(skipped);
}

ArchiveReader::~ArchiveReader()
{
    archive_read_free(a_);
}

archive_entry *ArchiveReader::Next()
{
    const int r = archive_read_next_header(a_, &entry_);
    if (r == ARCHIVE_EOF)
        return nullptr;
    // A warning here means a name that could not be read as stored: not safe to act on.
    if (r != ARCHIVE_OK) {
        const char *why = archive_error_string(a_);
        throw RarError(ExitCode::Fatal,
                       "damaged archive " + path_ + ": " + (why ? why : "unreadable entry"));
    }
    return entry_;
}

bool ArchiveReader::ReadBlock(const void *&data, size_t &size)
{
    la_int64_t offset = 0;
    const int r = archive_read_data_block(a_, &data, &size, &offset);
    if (r == ARCHIVE_OK)
        return true;
    if (r == ARCHIVE_EOF)
        return false;
    // Checksum and size mismatches come as warnings: they are failures all the same.
    const char *name = entry_ ? archive_entry_pathname(entry_) : nullptr;
    throw Failure(name ? name : "?");
}

RarError ArchiveReader::Failure(const std::string &entryName) const
{
    const char *why = archive_error_string(a_);
    const std::string text = entryName + ": " + (why ? why : "cannot be read");
    if (Contains(why, "assphrase"))
        return RarError(ExitCode::WrongPassword, "wrong password for " + text);
    if (Contains(why, "Authentication code"))
        return RarError(ExitCode::Checksum, "checksum error in " + text);
    const bool encrypted = entry_ && archive_entry_is_data_encrypted(entry_);
    if (Contains(why, "CRC") || Contains(why, "wrong size") ||
        Contains(why, "ecompression failed")) {
        if (encrypted)
            return RarError(ExitCode::WrongPassword, "wrong password or damaged data in " + text);
        return RarError(ExitCode::Checksum, "checksum error in " + text);
    }
    return RarError(ExitCode::Fatal, "cannot unpack " + text);
}

} // namespace kx_rar
