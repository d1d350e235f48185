#pragma once
// A file written under a temporary name beside its final name and renamed over it only when it
// is complete, so a failure never leaves a truncated file under the final name.

#include "file_access.h"

#include <cstdint>
#include <string>

namespace kx_rar {

class TempFile {
public:
    // Creates a new, empty file with a unique hidden name in the folder dirFd, which must
    // stay open until Commit or destruction. finalName is a plain name in that folder;
    // shownName names the file in messages. Throws RarError with ExitCode::CannotCreate.
    TempFile(fa::Native dirFd, std::string finalName, std::string shownName, unsigned mode);
    // Removes the temporary file unless Commit succeeded.
    ~TempFile();
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;

    // Writes all bytes. Throws RarError with ExitCode::Fatal on an I/O error (disk full).
    void Write(const void *data, size_t size);
    // Sets the modification time; a failure is ignored, the content is what counts.
    void SetModifiedTime(int64_t seconds, long nanoseconds);
    // Closes the file and renames it over the final name, replacing a file present there.
    // Throws RarError: ExitCode::Fatal when the close reports a late write error,
    // ExitCode::CannotCreate when the rename fails (a folder stands under the final name).
    void Commit();

private:
    fa::Native dirFd_;
    std::string finalName_;
    std::string shownName_;
    std::string tempName_;
    fa::Handle fd_;
    bool committed_ = false;
};

} // namespace kx_rar
