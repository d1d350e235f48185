#pragma once
// The data of one entry under ZIP AES encryption (AE-1 or AE-2), stored or deflated, read
// straight from the archive file. The archive library sets up the AES key anew for every
// 16-byte block; this reader sets it up once and runs the cipher over whole buffers, which
// matters most where only one core is free for the unpack. Where the build has no such reader
// the library reads these entries.

#include "file_access.h"
#include "zip_layout.h"

#include <cstddef>
#include <memory>
#include <string>

namespace kx_rar {

class EntryReader {
public:
    virtual ~EntryReader() = default;
    // The next piece of plain data, valid until the next call; false after the last one, once
    // the size, the authentication code and (first kind) the checksum have been checked.
    // Throws RarError: ExitCode::WrongPassword when the password check fails, and for data
    // that does not unpack or whose code, checksum or size do not match; ExitCode::Fatal when
    // the archive cannot be read.
    virtual bool ReadBlock(const void *&data, size_t &size) = 0;
};

// A reader for entry (AES, stored or deflated, passed CheckEntryData; fd outlives it), or null
// when the library is to read it: this build has no reader of its own, or the entry's kind of
// AES is one it does not know.
std::unique_ptr<EntryReader> OpenAesEntry(fa::Native fd, const ZipEntry &entry,
                                          const std::string &password, std::string shownName);

} // namespace kx_rar
