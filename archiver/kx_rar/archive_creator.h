#pragma once
// The add command, for package makers: a new archive from files and folders.

#include <optional>
#include <string>
#include <vector>

namespace kx_rar {

// Makes the ZIP archive anew (replacing one present) from the given paths. A folder is added
// with everything below it, links followed; entry names are the paths as given, made
// relative ("/" and "." parts dropped, and on Windows a drive letter), with "/" separators
// ("\" separates too on Windows). Files are compressed (deflate)
// and, with a password, encrypted with AES-256. The comment is taken byte for byte from
// commentFile (at most 65535 bytes). The archive is written under a temporary name and
// renamed into place when it is complete.
//
// Throws RarError: ExitCode::BadCommandLine for a path with a ".." part (it would give an
// entry that climbs out); ExitCode::Fatal when a path or the comment file cannot be read,
// the comment is too long or writing fails; ExitCode::CannotCreate when the archive cannot
// be created.
void CreateArchive(const std::string &archive, const std::vector<std::string> &paths,
                   const std::optional<std::string> &password,
                   const std::optional<std::string> &commentFile);

} // namespace kx_rar
