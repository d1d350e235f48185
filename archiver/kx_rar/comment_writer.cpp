#include "comment_writer.h"

#include "eocd_comment.h"
#include "rar_error.h"
#include "temp_file.h"
#include "unique_fd.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

void WriteArchiveComment(const std::string &archive, const std::string &file)
{
    const std::string comment = ReadArchiveComment(archive);

    const size_t slash = file.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : file.substr(0, slash + 1);
    const std::string name = file.substr(slash == std::string::npos ? 0 : slash + 1);
    if (name.empty() || name == "." || name == "..")
        throw RarError(ExitCode::CannotCreate, "cannot create " + file + ": not a file name");
    const UniqueFd folderFd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folderFd.Valid())
        throw RarError(ExitCode::CannotCreate,
                       "cannot create " + file + ": " + std::strerror(errno));
    TempFile out(folderFd.Get(), name, file, 0666);
    out.Write(comment.data(), comment.size());
    out.Commit();
}
