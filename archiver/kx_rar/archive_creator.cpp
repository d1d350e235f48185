#include "archive_creator.h"

#include "eocd_comment.h"
#include "file_access.h"
#include "rar_error.h"

#include <zip.h>

#include <algorithm>
#include <memory>
#include <set>
#include <utility>

namespace kx_rar {

namespace {

using FileId = std::pair<uint64_t, uint64_t>;

// Removes the half-made archive on every path but success.
class RemoveUnlessKept {
public:
    explicit RemoveUnlessKept(std::string path) : path_(std::move(path)) {}
    ~RemoveUnlessKept()
    {
        if (!kept_)
            fa::RemoveFile(path_);
    }
    RemoveUnlessKept(const RemoveUnlessKept &) = delete;
    RemoveUnlessKept &operator=(const RemoveUnlessKept &) = delete;
    void Keep() { kept_ = true; }

private:
    std::string path_;
    bool kept_ = false;
};

struct ZipDiscard {
    void operator()(zip_t *archive) const { zip_discard(archive); }
};

class ArchiveWriter {
public:
    ArchiveWriter(zip_t *handle, const std::optional<std::string> &password,
                  std::set<FileId> skipped)
        : zip_(handle), password_(password), skipped_(std::move(skipped))
    {
    }

    // Adds the file or folder at fsPath under the entry name (empty: the folder's content
    // without a folder entry of its own).
    void Add(const std::string &fsPath, const std::string &name)
    {
        fa::PathInfo info;
        if (!fa::StatPath(fsPath, info))
            throw RarError(ExitCode::Fatal, "cannot find " + fsPath + ": " + fa::ErrorText());
        if (skipped_.count(info.Id))
            return;
        if (info.Type == fa::Kind::Folder)
            AddFolder(fsPath, name, info);
        else if (info.Type == fa::Kind::Regular)
            AddFile(fsPath, name, info);
        else
            ShowMessage("skipped " + fsPath + ": neither a file nor a folder");
    }

private:
    [[noreturn]] void Fail(const std::string &what) const
    {
        throw RarError(ExitCode::Fatal, what + ": " + zip_strerror(zip_));
    }

    void SetAttributes(zip_int64_t index, const fa::PathInfo &info)
    {
        // Unix mode bits, so that unpackers on such systems restore the permissions.
        const zip_uint32_t attributes = static_cast<zip_uint32_t>(info.Mode & 0xffff) << 16;
        if (zip_file_set_external_attributes(zip_, static_cast<zip_uint64_t>(index), 0,
                                             ZIP_OPSYS_UNIX, attributes) != 0)
            Fail("cannot add " + std::string(zip_get_name(zip_, index, 0)));
    }

    void AddFile(const std::string &fsPath, const std::string &name, const fa::PathInfo &info)
    {
        // The library opens the file only when the archive is written, one at a time.
        zip_source_t *source = zip_source_file(zip_, fa::SystemPath(fsPath).c_str(), 0, 0);
        if (!source)
            Fail("cannot add " + fsPath);
        const zip_int64_t index =
            zip_file_add(zip_, name.c_str(), source, ZIP_FL_ENC_GUESS | ZIP_FL_OVERWRITE);
        if (index < 0) {
            zip_source_free(source);
            Fail("cannot add " + fsPath);
        }
        if (password_ && zip_file_set_encryption(zip_, static_cast<zip_uint64_t>(index),
                                                 ZIP_EM_AES_256, password_->c_str()) != 0)
            Fail("cannot encrypt " + fsPath);
        SetAttributes(index, info);
    }

    void AddFolder(const std::string &fsPath, const std::string &name, const fa::PathInfo &info)
    {
        // A link back up the tree would add it for ever.
        const FileId id = info.Id;
        if (!ancestors_.insert(id).second) {
            ShowMessage("skipped " + fsPath + ": a link back into its own folder tree");
            return;
        }
        if (!name.empty()) {
            zip_int64_t index = zip_dir_add(zip_, name.c_str(), ZIP_FL_ENC_GUESS);
            if (index < 0 && zip_error_code_zip(zip_get_error(zip_)) == ZIP_ER_EXISTS) {
                zip_error_clear(zip_);
                index = zip_name_locate(zip_, (name + "/").c_str(), 0);
            }
            if (index < 0)
                Fail("cannot add " + fsPath);
            zip_file_set_mtime(zip_, static_cast<zip_uint64_t>(index),
                               static_cast<time_t>(info.ModifiedTime), 0);
            SetAttributes(index, info);
        }
        for (const std::string &child : ListFolder(fsPath))
            Add(fsPath + "/" + child, name.empty() ? child : name + "/" + child);
        ancestors_.erase(id);
    }

    // The names in a folder, sorted, so that the same tree always gives the same archive.
    static std::vector<std::string> ListFolder(const std::string &path)
    {
        std::vector<std::string> names;
        if (!fa::ListFolder(path, names))
            throw RarError(ExitCode::Fatal, "cannot list " + path + ": " + fa::ErrorText());
        std::sort(names.begin(), names.end());
        return names;
    }

    zip_t *zip_;
    const std::optional<std::string> &password_;
    std::set<FileId> skipped_;
    std::set<FileId> ancestors_;
};

// The entry name for a path given on the command line: relative (without a drive letter on
// Windows), "/" separators (also for "\" on Windows), without empty and "." parts.
std::string EntryNameOf(const std::string &path)
{
    std::string name;
    size_t start = fa::RootLength(path);
    while (start <= path.size()) {
        size_t end = path.find_first_of(fa::kPathSeparators, start);
        if (end == std::string::npos)
            end = path.size();
        const std::string part = path.substr(start, end - start);
        if (part == "..")
            throw RarError(ExitCode::BadCommandLine,
                           "path " + path +
                               " climbs out with \"..\"; add it from its parent folder");
        if (!part.empty() && part != ".")
            name += (name.empty() ? "" : "/") + part;
        start = end + 1;
    }
    return name;
}

std::string ReadCommentFile(const std::string &path)
{
    const fa::Handle file = fa::OpenRead(path);
    fa::Info info;
    if (!file.Valid() || !fa::Stat(file.Get(), info))
        throw RarError(ExitCode::Fatal,
                       "cannot read comment file " + path + ": " + fa::ErrorText());
    if (info.Type != fa::Kind::Regular)
        throw RarError(ExitCode::Fatal,
                       "cannot read comment file " + path + ": not a regular file");
    if (info.Size > 0xffff)
        throw RarError(ExitCode::Fatal, "comment file " + path + " is longer than 65535 bytes");
    std::string bytes(static_cast<size_t>(info.Size), '\0');
    size_t got = 0;
    while (got < bytes.size()) {
        const int64_t n = fa::ReadAt(file.Get(), bytes.data() + got, bytes.size() - got, got);
        if (n < 0)
            throw RarError(ExitCode::Fatal,
                           "cannot read comment file " + path + ": " + fa::ErrorText());
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    bytes.resize(got);
    return bytes;
}

} // namespace

void CreateArchive(const std::string &archive, const std::vector<std::string> &paths,
                   const std::optional<std::string> &password,
                   const std::optional<std::string> &commentFile)
{
    std::vector<std::string> names;
    for (const std::string &path : paths)
        names.push_back(EntryNameOf(path));
    const std::string comment = commentFile ? ReadCommentFile(*commentFile) : "";
    if (password && !zip_encryption_method_supported(ZIP_EM_AES_256, 1))
        throw RarError(ExitCode::Fatal, "AES-256 encryption is not available");

    // Beside the archive, so that the last step is a rename within one folder; a short name
    // of its own, so that an archive name as long as the file system takes still leaves room
    // for it (and for the library's own temporary name, which it makes from this one).
    const size_t slash = archive.find_last_of(fa::kPathSeparators);
    const std::string folder = slash == std::string::npos
                                   ? archive.substr(0, fa::RootLength(archive))
                                   : archive.substr(0, slash + 1);
    const std::string temp = folder + ".kx_rar-" + std::to_string(fa::ProcessId()) + ".tmp";
    fa::RemoveFile(temp);
    RemoveUnlessKept tempGuard(temp);
    int error = 0;
    std::unique_ptr<zip_t, ZipDiscard> handle(
        zip_open(fa::SystemPath(temp).c_str(), ZIP_CREATE | ZIP_EXCL, &error));
    if (!handle)
        throw RarError(ExitCode::CannotCreate, "cannot create " + archive);

    // An old archive lying in a folder being added is not added to its successor.
    std::set<FileId> skipped;
    if (fa::PathInfo old; fa::StatPath(archive, old))
        skipped.insert(old.Id);
    ArchiveWriter writer(handle.get(), password, skipped);
    for (size_t i = 0; i < paths.size(); ++i)
        writer.Add(paths[i], names[i]);
    if (zip_get_num_entries(handle.get(), 0) == 0)
        throw RarError(ExitCode::Fatal, "nothing to add");

    if (zip_close(handle.get()) != 0)
        throw RarError(ExitCode::Fatal,
                       "cannot write " + archive + ": " + zip_strerror(handle.get()));
    handle.release(); // closed: the archive is written and the handle freed
    if (!comment.empty())
        AppendArchiveComment(temp, comment);
    if (!fa::RenamePath(temp, archive))
        throw RarError(ExitCode::CannotCreate, "cannot create " + archive + ": " + fa::ErrorText());
    tempGuard.Keep();
}

} // namespace kx_rar
