#include "extractor.h"

#include "aes_reader.h"
#include "archive_reader.h"
#include "dest_tree.h"
#include "entry_name.h"
#include "entry_text.h"
#include "file_access.h"
#include "rar_error.h"
#include "temp_file.h"
#include "traditional_reader.h"
#include "zip_layout.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_set>
#include <vector>

namespace kx_rar {

namespace {

// Past two readers the threads mostly wait on the disk and on each other's skipping.
constexpr unsigned kMaxWorkers = 4;
// Folders each thread keeps open: the entries of one folder usually follow each other, so a
// few cover a package; more only spend descriptors.
constexpr size_t kMaxOpenFolders = 32;
constexpr size_t kMinOpenFolders = 4;

// Open folders each of workers threads may keep, so that all descriptors of the process
// (theirs, one file each, the archive, the standard ones and the library's) stay within half
// the soft limit, whatever the package's folder count.
size_t FolderBudget(unsigned workers)
{
    const uint64_t limit = fa::OpenFilesLimit();
    if (limit == UINT64_MAX)
        return kMaxOpenFolders;
    const uint64_t half = limit / 2;
    constexpr uint64_t kOthers = 16;   // standard streams, archive, module, library
    constexpr uint64_t kPerThread = 3; // the file being written, a folder being opened
    if (half <= kOthers)
        return 0;
    const uint64_t each = (half - kOthers) / workers;
    return each <= kPerThread
               ? 0
               : static_cast<size_t>(std::min<uint64_t>(each - kPerThread, kMaxOpenFolders));
}

struct Job {
    std::string Archive;
    fa::Native ArchiveFd;
    ZipEnd End;
    std::optional<std::string> Password;
    const std::vector<ZipEntry> *Layout = nullptr; // in the order the library reads them
    fa::Native DestFd = fa::kNone;
    size_t MaxOpenFolders = 64;
};

// A probe up to this size is decrypted on its own before anything is written; a larger one
// is unpacked first, alone, and its folders removed again when the password proves wrong,
// so one large entry is not decrypted twice.
constexpr uint64_t kMaxSeparateProbe = 8 * 1024 * 1024;

// Reads the data of entry index: traditional encryption through the own reader (see
// traditional_reader.h), everything else through the library.
class EntryData {
public:
    EntryData(ArchiveReader &reader, const Job &job, size_t index, const std::string &shown)
        : reader_(reader)
    {
        const ZipEntry &e = (*job.Layout)[index];
        if (job.Password && e.Encrypted && !e.Aes)
            own_.emplace(job.ArchiveFd, e, *job.Password, shown);
        else if (job.Password && e.Aes)
            aes_ = OpenAesEntry(job.ArchiveFd, e, *job.Password, shown);
    }
    bool ReadBlock(const void *&data, size_t &size)
    {
        if (own_)
            return own_->ReadBlock(data, size);
        return aes_ ? aes_->ReadBlock(data, size) : reader_.ReadBlock(data, size);
    }

private:
    ArchiveReader &reader_;
    std::optional<TraditionalEntryReader> own_;
    std::unique_ptr<EntryReader> aes_;
};

// What the check of all entries found out before anything was written.
struct Survey {
    size_t Count = 0;
    bool DuplicateNames = false;
};

// The state the unpacking threads share: who took which entry, and the first failure.
class Shared {
public:
    explicit Shared(size_t count) : count_(count), taken_(new std::atomic<bool>[count]()) {}

    // True for the one thread that takes entry i first.
    bool Take(size_t i)
    {
        if (i >= count_)
            throw RarError(ExitCode::Fatal, "the archive changed while it was unpacked");
        return !taken_[i].exchange(true, std::memory_order_relaxed);
    }
    bool Stopped() const { return stopped_.load(std::memory_order_relaxed); }
    void Fail(const RarError &error)
    {
        std::lock_guard lock(mutex_);
        if (!failure_)
            failure_ = error;
        stopped_ = true;
    }
    const std::optional<RarError> &Failure() const { return failure_; }

private:
    size_t count_;
    std::unique_ptr<std::atomic<bool>[]> taken_;
    std::atomic<bool> stopped_{false};
    std::mutex mutex_;
    std::optional<RarError> failure_;
};

std::string Join(const std::vector<std::string> &parts)
{
    std::string path;
    for (const std::string &part : parts) {
        if (!path.empty())
            path += '/';
        path += part;
    }
    return path;
}

// Paths as the file system library takes them: UTF-8 on every system.
std::filesystem::path PathOf(const std::string &utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string TextOf(const std::filesystem::path &path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// The folder itself or its nearest parent that exists: where it will be created.
std::string ExistingFolderOf(const std::string &dest)
{
    std::error_code ec;
    std::filesystem::path path = std::filesystem::absolute(PathOf(dest), ec);
    if (ec)
        return ".";
    while (true) {
        if (fa::Exists(TextOf(path)) || !path.has_relative_path())
            return TextOf(path);
        path = path.parent_path();
    }
}

void CheckSpace(const std::string &folder, const std::string &what, uint64_t size)
{
    if (size == 0)
        return;
    // Unknown counts as enough: the writes themselves still fail on a full disk.
    const uint64_t free = fa::FreeSpace(folder);
    if (size > free)
        throw RarError(ExitCode::Fatal, "not enough free space for " + what + " (" +
                                            std::to_string(size) + " bytes, " +
                                            std::to_string(free) + " free in " + folder + ")");
}

// The methods the archive library at hand unpacks: the Windows build has no bzip2 and no xz
// library to link.
Decoders AvailableDecoders()
{
    Decoders decoders;
    decoders.Bzip2 = archive_bzlib_version() != nullptr;
    decoders.Lzma = archive_liblzma_version() != nullptr;
    return decoders;
}

// Why an entry may not be unpacked, or empty when it may; fills parts for an accepted one.
std::string RefusalOf(archive_entry *entry, const ZipEntry &stored, std::vector<std::string> &parts)
{
    const std::optional<std::string> name = EntryText(entry, stored);
    if (!name)
        return "unreadable name";
    const mode_t type = archive_entry_filetype(entry);
    if (type == AE_IFLNK)
        return "symbolic link";
    if ((type != AE_IFREG && type != AE_IFDIR) || archive_entry_hardlink(entry))
        return "neither a file nor a folder";
    std::string reason;
    if (!SplitEntryName(*name, parts, reason))
        return reason;
    for (const std::string &part : parts) {
        if (std::string problem = SystemNameProblem(part); !problem.empty())
            return problem;
    }
    if (type == AE_IFREG && parts.empty())
        return "file without a name";
    return {};
}

// Opens the target folder, first creating it and its missing parents (missing, innermost
// first, as MissingFolders gives them) outermost first.
fa::Handle OpenDest(const std::string &dest, const std::vector<std::filesystem::path> &missing)
{
    // Another program may make one of them at the same time; the open below tells.
    for (auto it = missing.rbegin(); it != missing.rend(); ++it)
        fa::MakeFolder(TextOf(*it));
    fa::Handle fd = fa::OpenFolder(dest);
    if (!fd.Valid())
        throw RarError(ExitCode::CannotCreate,
                       "cannot open target folder " + dest + ": " + fa::ErrorText());
    return fd;
}

// The encrypted entry whose full decryption settles the password at the least cost: the
// smallest one with content (an empty one proves nothing). None when nothing is encrypted.
std::optional<size_t> PasswordProbe(const std::vector<ZipEntry> &layout)
{
    std::optional<size_t> best;
    const auto better = [&](size_t i) {
        const ZipEntry &a = layout[i], &b = layout[*best];
        if ((a.Size > 0) != (b.Size > 0))
            return a.Size > 0;
        return a.CompressedSize < b.CompressedSize;
    };
    for (size_t i = 0; i < layout.size(); ++i) {
        if (layout[i].Encrypted && (!best || better(i)))
            best = i;
    }
    return best;
}

// A checksum or authentication failure of the probe means a wrong password that passed the
// format's quick check (or damage, which looks the same).
RarError AsWrongPassword(const RarError &e, const std::string &name)
{
    if (e.Code() != ExitCode::Checksum)
        return e;
    return RarError(ExitCode::WrongPassword, "wrong password: " + name +
                                                 " does not decrypt to its stored content (" +
                                                 e.what() + ")");
}

// Decrypts and unpacks the probe entry whole, writing nothing: a wrong password that passes
// the format's quick check (1 in 256 with traditional encryption, 1 in 65,536 with AES) fails
// here, on its checksum or authentication code, before any entry is written.
void VerifyPassword(const Job &job, size_t probe)
{
    ArchiveReader reader(job.ArchiveFd, job.End, job.Archive, job.Password);
    archive_entry *entry = nullptr;
    for (size_t i = 0; i <= probe; ++i) {
        entry = reader.Next();
        if (!entry)
            throw RarError(ExitCode::Fatal, "the archive changed while it was read");
    }
    const std::string name = EntryText(entry, (*job.Layout)[probe]).value_or("?");
    try {
        EntryData data(reader, job, probe, name);
        const void *bytes = nullptr;
        size_t got = 0;
        while (data.ReadBlock(bytes, got)) {
        }
    } catch (const RarError &e) {
        throw AsWrongPassword(e, name);
    }
}

// Checks every entry before anything is written: that the library sees the entries of the
// central directory, names, kinds, methods, no file where another entry needs a folder, and
// the total size against the free space where dest is or will be.
Survey SurveyEntries(const Job &job, const std::string &dest)
{
    const std::string target = fa::FullPath(dest);
    const std::vector<ZipEntry> &layout = *job.Layout;
    ArchiveReader reader(job.ArchiveFd, job.End, job.Archive, job.Password);
    Survey survey;
    size_t refused = 0;
    uint64_t total = 0;
    std::unordered_set<std::string> names;
    PathClashFinder clashes(SameFileKey);
    size_t files = 0;
    std::vector<std::string> parts;
    while (archive_entry *entry = reader.Next()) {
        const size_t index = survey.Count++;
        static const ZipEntry unknown;
        const std::string shownName =
            EntryText(entry, index < layout.size() ? layout[index] : unknown).value_or("?");
        // The library must read the entries that were checked above, one for one.
        if (index >= layout.size() ||
            (archive_entry_filetype(entry) == AE_IFREG && archive_entry_size_is_set(entry) &&
             static_cast<uint64_t>(archive_entry_size(entry)) != layout[index].Size))
            throw RarError(ExitCode::Fatal, "damaged archive " + job.Archive + ": entry \"" +
                                                shownName +
                                                "\" does not match its central directory");
        std::string why = RefusalOf(entry, layout[index], parts);
        if (why.empty())
            why =
                PathLengthProblem(target.empty() ? dest : target, Join(parts), SystemLengthUnit());
        if (why.empty())
            why = UnsupportedMethod(layout[index], AvailableDecoders());
        if (!why.empty()) {
            ShowMessage("refused entry \"" + shownName + "\": " + why);
            ++refused;
            continue;
        }
        const bool isFile = archive_entry_filetype(entry) == AE_IFREG;
        const std::string path = Join(parts);
        if (!path.empty() && !names.insert(SameFileKey(path)).second)
            survey.DuplicateNames = true;
        clashes.Add(parts, isFile);
        if (isFile) {
            ++files;
            // Sizes come from the archive: a sum that would wrap round stays at the maximum.
            const uint64_t size = layout[index].Size;
            total = size > UINT64_MAX - total ? UINT64_MAX : total + size;
        }
    }
    if (survey.Count != layout.size())
        throw RarError(ExitCode::Fatal, "damaged archive " + job.Archive +
                                            ": its entries do not match its central directory");
    for (const std::string &path : clashes.Clashes()) {
        ShowMessage("refused entry \"" + path + "\": a file where other entries need a folder");
        ++refused;
    }
    if (refused > 0)
        throw RarError(ExitCode::Fatal,
                       std::to_string(refused) + " entries refused; nothing was unpacked");
    CheckSpace(ExistingFolderOf(dest), "the " + std::to_string(files) + " files", total);
    return survey;
}

void UnpackEntry(ArchiveReader &reader, archive_entry *entry, size_t index, const Job &job,
                 DestTree &tree, const Shared &shared)
{
    std::vector<std::string> parts;
    const std::string why = RefusalOf(entry, (*job.Layout)[index], parts);
    if (!why.empty())
        throw RarError(ExitCode::Fatal, "refused entry: " + why);
    if (archive_entry_filetype(entry) == AE_IFDIR) {
        tree.Folder(parts, parts.size());
        return;
    }
    const std::string shown = Join(parts);
    const fa::Native folder = tree.Folder(parts, parts.size() - 1);
    const bool sizeKnown = archive_entry_size_is_set(entry);
    const int64_t size = archive_entry_size(entry);

    // Owner read and write always: the files are there to be read and replaced later.
    const unsigned mode = (archive_entry_perm(entry) & 0777) | 0600;
    TempFile file(folder, parts.back(), shown, mode);
    EntryData source(reader, job, index, shown);
    int64_t written = 0;
    const void *data = nullptr;
    size_t got = 0;
    while (source.ReadBlock(data, got)) {
        if (shared.Stopped())
            return; // another thread failed; the temporary file goes
        written += static_cast<int64_t>(got);
        // The stored size was checked against the free space: hold the data to it.
        if (sizeKnown && written > size)
            throw RarError(ExitCode::Checksum, "more data than stored for " + shown);
        file.Write(data, got);
    }
    if (archive_entry_mtime_is_set(entry))
        file.SetModifiedTime(archive_entry_mtime(entry), archive_entry_mtime_nsec(entry));
    file.Commit();
}

void UnpackShare(const Job &job, Shared &shared)
{
    ArchiveReader reader(job.ArchiveFd, job.End, job.Archive, job.Password);
    DestTree tree(job.DestFd, job.MaxOpenFolders);
    size_t index = 0;
    while (!shared.Stopped()) {
        archive_entry *entry = reader.Next();
        if (!entry)
            break;
        if (shared.Take(index))
            UnpackEntry(reader, entry, index, job, tree, shared);
        ++index;
    }
}

void RunWorker(const Job &job, Shared &shared)
{
    try {
        UnpackShare(job, shared);
    } catch (const RarError &e) {
        shared.Fail(e);
    } catch (const std::exception &e) {
        shared.Fail(RarError(ExitCode::Fatal, e.what()));
    }
}

// The folder and those of its parents that do not exist yet, innermost first.
std::vector<std::filesystem::path> MissingFolders(const std::string &dest)
{
    std::vector<std::filesystem::path> missing;
    std::error_code ec;
    std::filesystem::path path = std::filesystem::absolute(PathOf(dest), ec);
    while (!ec && path.has_relative_path() && !fa::Exists(TextOf(path))) {
        missing.push_back(path);
        path = path.parent_path();
    }
    return missing;
}

// Unpacks the probe entry alone, before any other. When its password proves wrong, the
// folders made for it go again, so a wrong password still leaves nothing behind (the caller
// removes those made for the target folder).
void UnpackProbeFirst(const Job &job, size_t probe, Shared &shared)
{
    std::vector<std::string> made;
    std::optional<RarError> wrong;
    {
        ArchiveReader reader(job.ArchiveFd, job.End, job.Archive, job.Password);
        DestTree tree(job.DestFd, job.MaxOpenFolders, &made);
        archive_entry *entry = nullptr;
        for (size_t i = 0; i <= probe; ++i) {
            entry = reader.Next();
            if (!entry)
                throw RarError(ExitCode::Fatal, "the archive changed while it was read");
        }
        try {
            shared.Take(probe);
            UnpackEntry(reader, entry, probe, job, tree, shared);
            return;
        } catch (const RarError &e) {
            const RarError error =
                AsWrongPassword(e, EntryText(entry, (*job.Layout)[probe]).value_or("?"));
            if (error.Code() != ExitCode::WrongPassword)
                throw error;
            wrong = error;
        }
    }
    // Once the tree's folders are closed: Windows removes no folder that is open. Innermost
    // first; a folder that is not empty stays.
    for (auto it = made.rbegin(); it != made.rend(); ++it)
        fa::RemoveAt(job.DestFd, *it, true);
    throw *wrong;
}

} // namespace

void ExtractArchive(const std::string &archive, const std::string &dest,
                    const std::optional<std::string> &password)
{
    const fa::Handle archiveFd = OpenArchiveFile(archive);
    Job job{archive, archiveFd.Get(), FindZipEnd(archiveFd.Get(), archive), password};
    std::vector<ZipEntry> layout = ReadZipEntries(job.ArchiveFd, job.End, archive);
    CheckEntryData(job.ArchiveFd, layout, job.End, archive);
    job.Layout = &layout;
    const Survey survey = SurveyEntries(job, dest);
    const std::optional<size_t> probe = PasswordProbe(layout);
    // Duplicate names unpack in order on one thread, so the probe cannot go first then.
    const bool probeFirst =
        probe && layout[*probe].CompressedSize > kMaxSeparateProbe && !survey.DuplicateNames;
    if (probe && !probeFirst)
        VerifyPassword(job, *probe);

    // Only an archive that passed every check gets its target folder.
    const std::vector<std::filesystem::path> madeForDest = MissingFolders(dest);
    fa::Handle destFd = OpenDest(dest, madeForDest);
    job.DestFd = destFd.Get();

    unsigned workers = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxWorkers);
    // With two entries of one name the later one must win, as it would one after another.
    if (survey.DuplicateNames)
        workers = 1;
    workers = static_cast<unsigned>(std::min<size_t>(workers, std::max<size_t>(survey.Count, 1)));
    job.MaxOpenFolders = FolderBudget(workers);
    if (job.MaxOpenFolders < kMinOpenFolders)
        workers = 1, job.MaxOpenFolders = FolderBudget(1);

    Shared shared(survey.Count);
    if (probeFirst) {
        try {
            UnpackProbeFirst(job, *probe, shared);
        } catch (const RarError &e) {
            if (e.Code() == ExitCode::WrongPassword) {
                destFd.Reset();
                for (const std::filesystem::path &folder : madeForDest)
                    fa::RemoveEmptyFolder(TextOf(folder));
            }
            throw;
        }
    }
    {
        std::vector<std::jthread> helpers;
        for (unsigned i = 1; i < workers; ++i)
            helpers.emplace_back([&] { RunWorker(job, shared); });
        RunWorker(job, shared);
    }
    if (shared.Failure())
        throw *shared.Failure();
}

} // namespace kx_rar
