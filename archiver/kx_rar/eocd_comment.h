#pragma once
// The archive comment read from and written straight into the end record of a ZIP archive,
// without an archive library: the comment command must start fast, and the archive library
// refuses comments that are not UTF-8, while a package descriptor is often in another code
// page.

#include <string>

namespace kx_rar {

// The comment of the ZIP archive at path, byte for byte as stored; empty when it has none.
// The end record is found by the rule of FindZipEnd (zip_layout.h), the one the unpack
// command follows too. Throws RarError with ExitCode::Fatal when the archive is missing, not
// a regular file, empty, not a ZIP archive or damaged that way.
std::string ReadArchiveComment(const std::string &path);

// Sets the comment of the ZIP archive at path, whose end-of-central-directory record must be
// its last 22 bytes with no comment yet (as the library writes it), to the given bytes.
// Throws RarError with ExitCode::Fatal when the record is not found there, the comment is
// longer than 65535 bytes or the file cannot be written.
void AppendArchiveComment(const std::string &path, const std::string &comment);

} // namespace kx_rar
