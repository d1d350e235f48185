#include "comment_writer.h"

#include "rar_error.h"
#include "temp_file.h"
#include "unique_fd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <zip.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace {

struct ZipDiscard {
    void operator()(zip_t *archive) const { zip_discard(archive); }
};

std::string ReadComment(const std::string &path)
{
    // An empty file is no archive, although the library would take it for an empty one.
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 0)
        throw RarError(ExitCode::Fatal, "cannot read archive " + path + ": empty file");
    int error = 0;
    std::unique_ptr<zip_t, ZipDiscard> archive(zip_open(path.c_str(), ZIP_RDONLY, &error));
    if (!archive) {
        zip_error_t details;
        zip_error_init_with_code(&details, error);
        const std::string why = zip_error_strerror(&details);
        zip_error_fini(&details);
        throw RarError(ExitCode::Fatal, "cannot read archive " + path + ": " + why);
    }
    int length = 0;
    // Raw: the bytes as stored, whatever code page the maker used.
    const char *comment = zip_get_archive_comment(archive.get(), &length, ZIP_FL_ENC_RAW);
    return comment && length > 0 ? std::string(comment, static_cast<size_t>(length)) : "";
}

} // namespace

void WriteArchiveComment(const std::string &archive, const std::string &file)
{
    const std::string comment = ReadComment(archive);

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
