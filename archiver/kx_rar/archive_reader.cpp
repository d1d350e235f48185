#include "archive_reader.h"

#include "rar_error.h"

#include <cstring>

namespace {

// Big enough that the small entries of a package come in few reads, small enough to keep
// memory low with one reader per thread.
constexpr size_t kReadBlock = 128 * 1024;

bool Contains(const char *text, const char *part)
{
    return text && std::strstr(text, part);
}

} // namespace

ArchiveReader::ArchiveReader(const std::string &path, const std::optional<std::string> &password)
    : a_(archive_read_new()), path_(path)
{
    if (!a_)
        throw RarError(ExitCode::Fatal, "out of memory");
    // The seekable reader takes names, sizes and checksums from the central directory, as
    // the archive's final word on its entries, and skips unwanted data without reading it.
    archive_read_support_format_zip_seekable(a_);
    if (password)
        archive_read_add_passphrase(a_, password->c_str());
    if (archive_read_open_filename(a_, path.c_str(), kReadBlock) != ARCHIVE_OK) {
        const std::string why = archive_error_string(a_) ? archive_error_string(a_) : "";
        archive_read_free(a_);
        throw RarError(ExitCode::Fatal, "cannot read archive " + path + ": " + why);
    }
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
