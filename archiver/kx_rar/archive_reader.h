#pragma once
// One pass over the entries of a ZIP archive in the order of their data, through libarchive.
// Each reader has its own file position, so every thread unpacking entries owns one.

#include <archive.h>
#include <archive_entry.h>

#include "rar_error.h"

#include <optional>
#include <string>

class ArchiveReader {
public:
    // Opens the archive and reads its central directory. Throws RarError with
    // ExitCode::Fatal when it is missing or not a readable ZIP archive.
    ArchiveReader(const std::string &path, const std::optional<std::string> &password);
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
    archive *a_;
    std::string path_;
    archive_entry *entry_ = nullptr;
};
