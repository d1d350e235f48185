#pragma once
// The file system as the scan and the file update see it. Paths are byte strings in the system
// code page with "/" separators on POSIX.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace offline_upgrade {

// Attribute flags of a folder entry, with the values of the Windows file attributes.
enum : uint32_t {
    kAttrReadOnly = 0x01,
    kAttrHidden = 0x02,
    kAttrDirectory = 0x10,
    kAttrArchive = 0x20,
};

struct FolderEntry {
    std::string Name;    // without folder part
    uint32_t Attributes; // kAttr* flags; a folder always carries kAttrDirectory
    uint64_t Size;       // bytes; 0 for a folder
    // A plain file, or a link to one; false for a folder and anything else (a FIFO, a device,
    // a link that leads nowhere).
    bool Plain = false;
};

// What stands at a path when a link at its last name is not followed.
enum class EntryKind {
    Missing, // nothing, or the path cannot be examined
    File,    // a plain file
    Folder,
    Link,  // a symbolic link (dangling or not); on Windows any reparse point, junctions too
    Other, // a FIFO, a device, a socket
};

// What ExchangeFiles did.
enum class ExchangeOutcome {
    Exchanged,
    Unsupported, // the system or the file system has no such step; nothing was done
    Failed,      // nothing was done (the cause is logged)
};

// One folder's listing of ListFolders.
struct FolderListing {
    bool Listed = false; // what ListFolder returned
    std::vector<FolderEntry> Entries;
};

// A file of the package and the place it is to be copied to, for ExamineCopyPlaces.
struct CopyPlace {
    std::string Source;
    std::string Target;
    // Its listing found a plain file at Source (FolderEntry::Plain): a system may then ask only
    // whether it may be read. Whatever stands there when it is copied is checked again then.
    bool SourceListedPlain = false;
};

// What ExamineCopyPlaces found; each field as the call named gives it.
struct CopyPlaceFacts {
    bool SourceReadable = false;               // MayReadFile(Source)
    EntryKind TargetKind = EntryKind::Missing; // KindOf(Target)
    // MayReplaceFile(Target), asked when anything but a folder is there; false otherwise.
    bool TargetReplaceable = false;
    uint64_t TargetIdentity = 0; // IdentityOf(Target); 0 when it gives none
};

// One step of MoveFiles: From renamed to To, which must not exist (RenameFile without
// replace), or with Exchange, the two swapped (ExchangeFiles).
struct FileMove {
    std::string From;
    std::string To;
    bool Exchange = false;
};

// One copy of CopyFilesBeside.
struct FileCopy {
    std::string Source;
    std::string Dest;
    std::string Temp;
};

struct FileSystemSpace {
    uint64_t Id = 0;        // the same for every path on one file system
    uint64_t Available = 0; // bytes the running user may still write
};

// A file open for reading, from its start to its end, in pieces. Closed when destroyed.
class IFileReader {
public:
    virtual ~IFileReader() = default;
    // Reads up to capacity bytes into buffer; got is how many (0 at the end of the file). False
    // when the read fails (the cause is logged).
    [[nodiscard]] virtual bool Read(char *buffer, size_t capacity, size_t &got) = 0;
};

// A new file open for writing. Destroyed without a successful Close, it is closed and left as
// written so far; the caller removes it.
class IFileWriter {
public:
    virtual ~IFileWriter() = default;
    // Appends size bytes. False when they cannot all be written (the cause is logged).
    [[nodiscard]] virtual bool Write(const char *data, size_t size) = 0;
    // Closes the file. False when the system reports that what was written is lost.
    [[nodiscard]] virtual bool Close() = 0;
};

class IFileSystem {
public:
    virtual ~IFileSystem() = default;

    // True when path names an existing file (anything but a folder).
    [[nodiscard]] virtual bool FileExists(const std::string &path) = 0;
    // True when path names an existing folder.
    [[nodiscard]] virtual bool DirectoryExists(const std::string &path) = 0;
    // What is at path itself: a link at its last name is reported as a link, never followed
    // (lstat; the attributes of the reparse point on Windows). Links above it are followed.
    [[nodiscard]] virtual EntryKind KindOf(const std::string &path) = 0;
    // The absolute path of what path names, every link and junction on the way and "." and
    // ".." resolved, without a trailing separator (realpath; the final path of an open handle
    // on Windows). False when path is missing or a link on the way leads nowhere.
    [[nodiscard]] virtual bool ResolvePath(const std::string &path, std::string &resolved) = 0;
    // Deletes one file. True when it was deleted.
    [[nodiscard]] virtual bool RemoveFile(const std::string &path) = 0;
    // Creates the folder with every missing parent. True when the folder exists afterwards.
    [[nodiscard]] virtual bool ForceDirectories(const std::string &path) = 0;
    // Removes a folder and everything below it (links are removed, never followed; folders
    // without owner rights are given them so they can be emptied). True when nothing is left at
    // path afterwards (also when nothing was there).
    [[nodiscard]] virtual bool RemoveTree(const std::string &path) = 0;

    // The process's working directory. Throws KxError when it cannot be read or set.
    virtual std::string GetCurrentDir() = 0;
    virtual void SetCurrentDir(const std::string &path) = 0;

    // Replaces entries with the entries of folder whose names match pattern (Windows wildcards
    // "*" and "?", ASCII letters without regard to case; a trailing ".*" also matches a name
    // without a dot, so "*.*" matches every name). "." and ".." are not listed. A link is listed
    // as what it points to. Entries come in ascending order of their names compared without
    // regard to ASCII letter case, ties by ordinal order, so the order is the same on every run.
    // False when the folder cannot be listed (entries is then empty).
    [[nodiscard]] virtual bool ListFolder(const std::string &folder, const std::string &pattern,
                                          std::vector<FolderEntry> &entries) = 0;

    // True when path names an existing file (not a folder) that the running user may replace:
    // as cp and install decide, the effective user may write it (root may write any file),
    // and the file system allows it (not immutable or append-only, not on a read-only mount).
    // Permission bits alone do not decide: a 0444 file of root's may be replaced by root.
    // False for a missing path, a folder, and a file that may not be replaced (the read-only
    // attribute on Windows). On Windows the file is opened with the access that setting it
    // aside needs (delete), sharing everything: a file that another program holds open
    // without delete sharing is refused, and the system's reason is logged with the path.
    [[nodiscard]] virtual bool MayReplaceFile(const std::string &path) = 0;

    // What the file stage needs besides the above: it checks before it starts, writes every
    // new file beside its target, renames them all into place keeping each replaced file, and
    // undoes it all when anything fails.

    // True when path names a file (or a link to one) that the running user may open for
    // reading; false for a folder, a missing path, and anything that is not a plain file.
    [[nodiscard]] virtual bool MayReadFile(const std::string &path) = 0;
    // True when the running user may create, rename and remove entries in the existing folder
    // (the file system is not read-only); false for a missing path or a file.
    [[nodiscard]] virtual bool MayCreateIn(const std::string &folder) = 0;
    // The file system holding the existing path: its identity (equal for paths on the same
    // one) and the bytes the running user may still write there. False when path cannot be
    // examined.
    [[nodiscard]] virtual bool SpaceOf(const std::string &path, FileSystemSpace &space) = 0;
    // Writes a copy of source to temp, a new file in the folder of dest (temp must not exist;
    // false when it does), made to be renamed over dest (RenameFile): dest need not exist and
    // is not touched. Only a file is copied. The copy keeps source's modification time; its
    // bits follow the rules below as if it had replaced dest (ReplacedFileMode, NewFileMode on
    // POSIX; on Windows a replaced file's attributes but read-only, a new file's archive):
    // - A replaced file keeps the permission bits and the owner and group of the file it
    //   replaces: the product's installation decided them, not the machine the package was
    //   made on. Where the process may not give the copy the old owner or group, the copy
    //   belongs to the process and loses set-user-ID and set-group-ID.
    // - A new file takes the permission bits of source, never set-user-ID, set-group-ID or
    //   sticky; it belongs to the process.
    // True when temp holds the whole copy; false leaves no temp behind. On POSIX the copy is
    // not yet on stable storage (see FlushFileSystems); on Windows it is flushed.
    [[nodiscard]] virtual bool CopyFileBeside(const std::string &source, const std::string &dest,
                                              const std::string &temp) = 0;
    // Renames an entry within one file system in one step. With replace, a file at to is
    // replaced; without, the rename fails when anything is at to. False leaves both as they
    // were.
    [[nodiscard]] virtual bool RenameFile(const std::string &from, const std::string &to,
                                          bool replace) = 0;
    // A number that tells the entry at path itself (a link at its last name is not followed)
    // from every other entry of its file system while both exist: the inode number on POSIX.
    // False where the system gives none (Windows) or path cannot be examined.
    [[nodiscard]] virtual bool IdentityOf(const std::string &path, uint64_t &identity) = 0;
    // Swaps the entries at a and b, both existing in one folder, in one step: whatever moment
    // the system stops at, each name holds one of the two whole. Links are swapped, never
    // followed.
    [[nodiscard]] virtual ExchangeOutcome ExchangeFiles(const std::string &a,
                                                        const std::string &b) = 0;
    // Lists each folder as ListFolder does, possibly several at once; listings gets one
    // element per folder, in order.
    virtual void ListFolders(const std::vector<std::string> &folders, const std::string &pattern,
                             std::vector<FolderListing> &listings);
    // Examines many files of the package and the places they go, as the calls named in
    // CopyPlaceFacts do one by one; facts gets one element per place, in order. The places of
    // one folder best come one after another: a system may look each folder up once, not once
    // per name.
    virtual void ExamineCopyPlaces(const std::vector<CopyPlace> &places,
                                   std::vector<CopyPlaceFacts> &facts);
    // Makes each copy as CopyFileBeside does, possibly several at once, and calls copied with
    // its index, on the calling thread, as each one is done, in any order. Stops at the first
    // that fails, logs it and returns false; the copies made are left for the caller to remove.
    [[nodiscard]] virtual bool CopyFilesBeside(const std::vector<FileCopy> &copies,
                                               const std::function<void(size_t)> &copied);
    // Carries the moves out in order, each as RenameFile or ExchangeFiles does, until one does
    // not happen; returns how many did. stoppedBy says what the one after them gave:
    // Unsupported (an exchange the file system does not have; nothing was done) or Failed (the
    // cause is logged); Exchanged when all happened. Meant for the moves of one folder after
    // another: a system may look each folder up once, not once per name.
    [[nodiscard]] virtual size_t MoveFiles(const std::vector<FileMove> &moves,
                                           ExchangeOutcome &stoppedBy);
    // Creates one folder whose parent exists. False when anything is at path already.
    [[nodiscard]] virtual bool CreateFolder(const std::string &path) = 0;
    // Deletes these files (each as RemoveFile does), in any order, possibly several at once.
    // True when every one was deleted; false when any is left (the others are deleted all the
    // same).
    [[nodiscard]] virtual bool RemoveFiles(const std::vector<std::string> &paths) = 0;
    // Removes one empty folder. False when it is not empty or cannot be removed.
    [[nodiscard]] virtual bool RemoveFolder(const std::string &path) = 0;
    // The modification time of the entry at path in nanoseconds since 1970; set it back.
    [[nodiscard]] virtual bool ModifiedTime(const std::string &path, int64_t &nanoseconds) = 0;
    [[nodiscard]] virtual bool SetModifiedTime(const std::string &path, int64_t nanoseconds) = 0;
    // Opens a file (a link is followed) for reading in pieces. Null when it cannot be opened or
    // is a folder (the cause is logged).
    [[nodiscard]] virtual std::unique_ptr<IFileReader>
    OpenFileForReading(const std::string &path) = 0;
    // Creates a new file at path and opens it for writing; no other user may change it (POSIX:
    // mode 0600; Windows: shared with nobody while open, the folder's rights otherwise). Null
    // when anything is at path already, a link included, which is never followed, or it cannot
    // be created (the cause is logged).
    [[nodiscard]] virtual std::unique_ptr<IFileWriter> CreateNewFile(const std::string &path) = 0;
    // Reads a whole file. False when it cannot be read (bytes is then empty).
    [[nodiscard]] virtual bool ReadFile(const std::string &path, std::string &bytes) = 0;
    // Replaces the file at path with bytes so that, after a power loss at any moment, path
    // holds either its former content or all of bytes, and bytes are on stable storage when
    // it returns true.
    [[nodiscard]] virtual bool WriteFileDurably(const std::string &path,
                                                const std::string &bytes) = 0;

    // Brings what was written to the file systems holding these paths (files or folders,
    // existing) to stable storage, data and names, with one flush per file system however many
    // paths lie on it. True when every flush succeeded; false when a path cannot be opened or
    // a flush reports an error (the cause is logged).
    [[nodiscard]] virtual bool FlushFileSystems(const std::vector<std::string> &paths) = 0;
};

} // namespace offline_upgrade
