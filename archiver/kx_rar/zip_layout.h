#pragma once
// The layout of a ZIP archive read by hand, with the C library alone: where the end record
// is, the central directory's entries, and where each entry's data lies. The comment command
// and the unpack command both find the end record here, by one rule, so the descriptor that
// the scan reads always belongs to the archive that is unpacked. The checks are plain
// functions, for any tool that has to judge an archive before it trusts it.

#include "file_access.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kx_rar {

// Opens an archive for reading without blocking (a FIFO or a device named like an archive
// must not hold the program) and refuses anything but a regular, non-empty file. Throws
// RarError with ExitCode::Fatal, naming the path and the cause.
fa::Handle OpenArchiveFile(const std::string &path);

// Where the end records and the central directory lie.
struct ZipEnd {
    uint64_t FileSize = 0;
    uint64_t RecordAt = 0;      // the plain end record
    uint64_t DirectoryAt = 0;   // the first central header
    uint64_t DirectorySize = 0; // ends where the (ZIP64) end records begin
    uint64_t Entries = 0;
    std::string Comment; // byte for byte as stored
};

// Finds the end record of the archive open at fd. The rule: among the records in the last
// 65,557 bytes whose comment reaches exactly to the end of the file, the first one whose own
// fields agree (a single disk, as many entries on this disk as in all, through the ZIP64 end
// record when its locator precedes the record, a directory that ends where the end records
// begin and starts with a central header) is the archive's. Only that one is then checked in
// full: its directory must hold exactly its number of complete central headers. So the work
// is one pass over the tail and one over one directory, whatever the file holds. Throws
// RarError with ExitCode::Fatal (naming path) when no record qualifies or its directory does
// not hold together.
ZipEnd FindZipEnd(fa::Native fd, const std::string &path);

// One entry of the central directory.
struct ZipEntry {
    std::string Name; // bytes as stored
    uint16_t Flags = 0;
    uint16_t Method = 0;     // for AES entries: the method under the encryption
    bool Encrypted = false;  // flag bit 0
    bool Aes = false;        // method 99 with its extra field
    bool Strong = false;     // flag bit 6: a kind of encryption no reader here knows
    uint16_t AesVersion = 0; // AES entries: 1 keeps the checksum, 2 leaves it 0
    uint8_t AesStrength = 0; // AES entries: 1, 2, 3 for keys of 128, 192, 256 bits
    uint32_t Crc = 0;        // 0 in AES entries of the second kind
    uint64_t CompressedSize = 0;
    uint64_t Size = 0;
    uint64_t LocalAt = 0;   // the local header
    uint64_t DataAt = 0;    // filled by CheckEntryData
    uint64_t DataEnd = 0;   // likewise: DataAt + CompressedSize
    uint16_t LocalTime = 0; // likewise: the local header's modification time
};

// The central directory's entries in the order of their local headers in the file, sizes and
// offsets taken from ZIP64 extra fields where the plain fields say so. Throws RarError with
// ExitCode::Fatal when a header is damaged or an AES entry lacks its extra field.
std::vector<ZipEntry> ReadZipEntries(fa::Native fd, const ZipEnd &end, const std::string &path);

// Checks that the entries are what their local headers say and that no two share data: each
// local header lies where the directory says, with the same name, method and encryption; each
// entry's data lies before the central directory; no local header or data range overlaps
// another (two directory entries over one stored entry would unpack it twice). Fills DataAt
// and DataEnd. Throws RarError with ExitCode::Fatal naming the first entry that fails.
void CheckEntryData(fa::Native fd, std::vector<ZipEntry> &entries, const ZipEnd &end,
                    const std::string &path);

// The methods beyond stored, deflate and PPMd that the archive library at hand unpacks.
struct Decoders {
    bool Bzip2 = true;
    bool Lzma = true; // LZMA and xz
};

// Why the entry's data cannot be unpacked here, or empty when it can. Supported: stored,
// deflate, bzip2, LZMA, xz and PPMd (bzip2, LZMA and xz where decoders has them); encrypted
// (traditional or AES) only stored and deflate, the archive library decrypts no other method
// (they would fail as if the password were wrong). Strong encryption is not supported.
std::string UnsupportedMethod(const ZipEntry &entry, const Decoders &decoders = {});

// The method's name for messages ("bzip2", "method 77").
std::string MethodName(uint16_t method);

} // namespace kx_rar
