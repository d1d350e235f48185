#pragma once
// The archive comment written straight into the end record of a finished ZIP archive. The
// archive library refuses comments that are not UTF-8, and a package descriptor is often in
// another code page.

#include <string>

// Sets the comment of the ZIP archive at path, whose end-of-central-directory record must be
// its last 22 bytes with no comment yet (as the library writes it), to the given bytes.
// Throws RarError with ExitCode::Fatal when the record is not found there, the comment is
// longer than 65535 bytes or the file cannot be written.
void AppendArchiveComment(const std::string &path, const std::string &comment);
