#pragma once
// The comment command: the archive comment into a file.

#include <string>

namespace kx_rar {

// Writes the comment of the ZIP archive, byte for byte as stored (no code-page translation),
// into file, replacing it; an archive without a comment gives an empty file. The comment is
// read whole before the file is touched, and the file is written under a temporary name and
// renamed, so it is never created or changed when something fails. Throws RarError:
// ExitCode::Fatal when the archive is missing, empty, damaged or not a ZIP archive, or the
// file cannot be written; ExitCode::CannotCreate when the file cannot be created.
void WriteArchiveComment(const std::string &archive, const std::string &file);

} // namespace kx_rar
