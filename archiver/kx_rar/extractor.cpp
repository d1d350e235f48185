#include "extractor.h"

#include "archive_reader.h"
#include "dest_tree.h"
#include "entry_name.h"
#include "rar_error.h"
#include "temp_file.h"
#include "unique_fd.h"

#include <fcntl.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_set>
#include <vector>

namespace {

// Past two readers the threads mostly wait on the disk and on each other's skipping.
constexpr unsigned kMaxWorkers = 4;

struct Job {
    std::string Archive;
    std::optional<std::string> Password;
    int DestFd;
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

// Free bytes for an unprivileged writer in the file system of folder fd; unknown counts as
// enough, the writes themselves still fail on a full disk.
uint64_t FreeSpace(int fd)
{
    struct statvfs info {};
    if (fstatvfs(fd, &info) != 0)
        return UINT64_MAX;
    return static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
}

void CheckSpace(int folderFd, const std::string &name, int64_t size)
{
    if (size <= 0)
        return;
    const uint64_t free = FreeSpace(folderFd);
    if (static_cast<uint64_t>(size) > free)
        throw RarError(ExitCode::Fatal, "not enough free space for " + name + " (" +
                                            std::to_string(size) + " bytes, " +
                                            std::to_string(free) + " free)");
}

// Why an entry may not be unpacked, or empty when it may; fills parts for an accepted one.
std::string RefusalOf(archive_entry *entry, std::vector<std::string> &parts)
{
    const char *name = archive_entry_pathname(entry);
    if (!name)
        return "unreadable name";
    const mode_t type = archive_entry_filetype(entry);
    if (type == AE_IFLNK)
        return "symbolic link";
    if ((type != AE_IFREG && type != AE_IFDIR) || archive_entry_hardlink(entry))
        return "neither a file nor a folder";
    std::string reason;
    if (!SplitEntryName(name, parts, reason))
        return reason;
    if (type == AE_IFREG && parts.empty())
        return "file without a name";
    return {};
}

UniqueFd OpenDest(const std::string &dest)
{
    std::error_code ec;
    std::filesystem::create_directories(dest, ec);
    UniqueFd fd(open(dest.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.Valid())
        throw RarError(ExitCode::CannotCreate,
                       "cannot open target folder " + dest + ": " + std::strerror(errno));
    return fd;
}

// Checks every entry before anything is written: names, kinds, sizes against the free space
// and, on the first encrypted file, the password.
Survey SurveyEntries(const Job &job)
{
    ArchiveReader reader(job.Archive, job.Password);
    Survey survey;
    size_t refused = 0;
    bool passwordTried = false;
    int64_t largest = 0;
    std::string largestName;
    std::unordered_set<std::string> names;
    std::vector<std::string> parts;
    while (archive_entry *entry = reader.Next()) {
        ++survey.Count;
        const std::string why = RefusalOf(entry, parts);
        if (!why.empty()) {
            const char *name = archive_entry_pathname(entry);
            ShowMessage("refused entry \"" + std::string(name ? name : "?") + "\": " + why);
            ++refused;
            continue;
        }
        const std::string path = Join(parts);
        if (!path.empty() && !names.insert(path).second)
            survey.DuplicateNames = true;
        if (archive_entry_filetype(entry) != AE_IFREG)
            continue;
        const int64_t size = archive_entry_size(entry);
        if (size > largest) {
            largest = size;
            largestName = path;
        }
        if (!passwordTried && size > 0 && archive_entry_is_data_encrypted(entry)) {
            passwordTried = true;
            const void *data = nullptr;
            size_t got = 0;
            reader.ReadBlock(data, got);
        }
    }
    if (refused > 0)
        throw RarError(ExitCode::Fatal,
                       std::to_string(refused) + " entries refused; nothing was unpacked");
    CheckSpace(job.DestFd, largestName, largest);
    return survey;
}

void UnpackEntry(ArchiveReader &reader, archive_entry *entry, DestTree &tree, const Shared &shared)
{
    std::vector<std::string> parts;
    const std::string why = RefusalOf(entry, parts);
    if (!why.empty())
        throw RarError(ExitCode::Fatal, "refused entry: " + why);
    if (archive_entry_filetype(entry) == AE_IFDIR) {
        tree.Folder(parts, parts.size());
        return;
    }
    const std::string shown = Join(parts);
    const int folder = tree.Folder(parts, parts.size() - 1);
    const bool sizeKnown = archive_entry_size_is_set(entry);
    const int64_t size = archive_entry_size(entry);
    if (sizeKnown)
        CheckSpace(folder, shown, size);

    // Owner read and write always: the files are there to be read and replaced later.
    const mode_t mode = (archive_entry_perm(entry) & 0777) | 0600;
    TempFile file(folder, parts.back(), shown, mode);
    int64_t written = 0;
    const void *data = nullptr;
    size_t got = 0;
    while (reader.ReadBlock(data, got)) {
        if (shared.Stopped())
            return; // another thread failed; the temporary file goes
        written += static_cast<int64_t>(got);
        // The stored size was checked against the free space: hold the data to it.
        if (sizeKnown && written > size)
            throw RarError(ExitCode::Checksum, "more data than stored for " + shown);
        file.Write(data, got);
    }
    if (archive_entry_mtime_is_set(entry))
        file.SetModifiedTime({archive_entry_mtime(entry), archive_entry_mtime_nsec(entry)});
    file.Commit();
}

void UnpackShare(const Job &job, Shared &shared)
{
    ArchiveReader reader(job.Archive, job.Password);
    DestTree tree(job.DestFd);
    size_t index = 0;
    while (!shared.Stopped()) {
        archive_entry *entry = reader.Next();
        if (!entry)
            break;
        if (shared.Take(index++))
            UnpackEntry(reader, entry, tree, shared);
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

} // namespace

void ExtractArchive(const std::string &archive, const std::string &dest,
                    const std::optional<std::string> &password)
{
    const UniqueFd destFd = OpenDest(dest);
    const Job job{archive, password, destFd.Get()};
    const Survey survey = SurveyEntries(job);

    unsigned workers = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxWorkers);
    // With two entries of one name the later one must win, as it would one after another.
    if (survey.DuplicateNames)
        workers = 1;
    workers = static_cast<unsigned>(std::min<size_t>(workers, std::max<size_t>(survey.Count, 1)));

    Shared shared(survey.Count);
    {
        std::vector<std::jthread> helpers;
        for (unsigned i = 1; i < workers; ++i)
            helpers.emplace_back([&] { RunWorker(job, shared); });
        RunWorker(job, shared);
    }
    if (shared.Failure())
        throw *shared.Failure();
}
