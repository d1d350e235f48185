#pragma once
// One pass over the entries of a ZIP archive in the order of their data, through libarchive.
// Each reader has its own position in the shared file, so every thread unpacking entries owns
// one.

#include <archive.h>
#include <archive_entry.h>

#include "file_access.h"
#include "rar_error.h"
#include "zip_layout.h"

#include <optional>
#include <string>

namespace kx_rar {

class ArchiveReader {
public:
    // Reads the archive open at fd (which must outlive the reader) as ending with the end
    // record that FindZipEnd found, without its comment: the library then sees the archive
    // that the comment command read, whatever else the file's tail holds, and a comment of
    // any length. Throws RarError with ExitCode::Fatal when the library cannot read it.
    ArchiveReader(fa::Native fd, const ZipEnd &end, const std::string &path,
                  const std::optional<std::string> &password);
    ~ArchiveReader();
    ArchiveReader(const ArchiveReader &) = delete;
    ArchiveReader &operator=(const ArchiveReader &) = delete;

    // The next entry, or nullptr after the last one; skips the data of the current entry.
    // The entry stays valid until the next call. Throws RarError with ExitCode::Fatal for a
    // damaged archive.
    archive_entry *Next();

    // The next piece of the current entry's data, checked at its end against the stored
    // checksum and sizes. False after the last piece. Throws RarError for wrong or damaged
    // data: see Failure.
    bool ReadBlock(const void *&data, size_t &size);

    // The error for the last failed read of the current entry: ExitCode::WrongPassword for a
    // missing or wrong password, and also for garbled data of an entry under traditional
    // encryption (its one-byte password check lets 1 wrong password in 256 through, and the
    // data then fails to unpack); ExitCode::Checksum for a checksum or authentication code
    // that does not match; ExitCode::Fatal otherwise.
    RarError Failure(const std::string &entryName) const;

private:
    static la_ssize_t ReadCallback(archive *, void *self, const void **buffer);
    static la_int64_t SeekCallback(archive *, void *self, la_int64_t offset, int whence);
    static la_int64_t SkipCallback(archive *, void *self, la_int64_t request);

    archive *a_;
    std::string path_;
    fa::Native fd_;
    uint64_t viewEnd_;      // the end record's last byte + 1
    uint64_t position_ = 0; // in that view
    std::string buffer_;
    archive_entry *entry_ = nullptr;
};

} // namespace kx_rar
