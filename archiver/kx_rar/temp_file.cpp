#include "temp_file.h"

#include "rar_error.h"

#include <atomic>

namespace kx_rar {

TempFile::TempFile(fa::Native dirFd, std::string finalName, std::string shownName, unsigned mode)
    : dirFd_(dirFd), finalName_(std::move(finalName)), shownName_(std::move(shownName))
{
    // The name must be unique among the threads of this process and the processes that may
    // unpack into the same folder; the exclusive creation settles the rest.
    static std::atomic<unsigned long> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempName_ = ".kx_rar-" + std::to_string(fa::ProcessId()) + "-" +
                    std::to_string(counter.fetch_add(1)) + ".tmp";
        fd_ = fa::CreateNewAt(dirFd_, tempName_, mode);
        if (fd_.Valid())
            return;
        if (fa::LastFailure() != fa::Failure::Exists)
            break;
    }
    throw RarError(ExitCode::CannotCreate, "cannot create " + shownName_ + ": " + fa::ErrorText());
}

TempFile::~TempFile()
{
    if (!committed_) {
        fd_.Reset();
        fa::RemoveAt(dirFd_, tempName_, false);
    }
}

void TempFile::Write(const void *data, size_t size)
{
    if (!fa::Write(fd_.Get(), data, size))
        throw RarError(ExitCode::Fatal, "cannot write " + shownName_ + ": " + fa::ErrorText());
}

void TempFile::SetModifiedTime(int64_t seconds, long nanoseconds)
{
    fa::SetModifiedTime(fd_.Get(), seconds, nanoseconds);
}

void TempFile::Commit()
{
    if (!fd_.Close())
        throw RarError(ExitCode::Fatal, "cannot write " + shownName_ + ": " + fa::ErrorText());
    if (!fa::RenameAt(dirFd_, tempName_, finalName_))
        throw RarError(ExitCode::CannotCreate,
                       "cannot create " + shownName_ + ": " + fa::ErrorText());
    committed_ = true;
}

} // namespace kx_rar
