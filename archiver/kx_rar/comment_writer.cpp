#include "comment_writer.h"

#include "eocd_comment.h"
#include "file_access.h"
#include "rar_error.h"
#include "temp_file.h"

namespace kx_rar {

void WriteArchiveComment(const std::string &archive, const std::string &file)
{
    const std::string comment = ReadArchiveComment(archive);

    const size_t slash = file.find_last_of(fa::kPathSeparators);
    const std::string folder = slash == std::string::npos ? "." : file.substr(0, slash + 1);
    const std::string name = file.substr(slash == std::string::npos ? 0 : slash + 1);
    if (name.empty() || name == "." || name == "..")
        throw RarError(ExitCode::CannotCreate, "cannot create " + file + ": not a file name");
    const fa::Handle folderFd = fa::OpenFolder(folder);
    if (!folderFd.Valid())
        throw RarError(ExitCode::CannotCreate, "cannot create " + file + ": " + fa::ErrorText());
    TempFile out(folderFd.Get(), name, file, 0666);
    out.Write(comment.data(), comment.size());
    out.Commit();
}

} // namespace kx_rar
