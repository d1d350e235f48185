#pragma once
// The lock that keeps a second run of the tool (window or unattended) out of a program folder
// while one runs there: both would write the same descriptor file and unpack into the same
// work folder. The lock is a file in the program folder itself, beside the log, locked by the
// system, so a run that crashes or is killed leaves no stale lock behind. It is not in the
// work folder "TempUpdate": the archiver unpacks a package's entries there, and an entry of
// the lock file's name would replace it while it is held.

#include <string>

namespace offline_upgrade {

// The lock file, in the program folder.
inline const char kProgramFolderLockName[] = "offline-upgrade.lock";

class ProgramFolderLock {
public:
    enum class Outcome {
        Held,   // this process holds the lock until the object is destroyed
        Busy,   // another process holds it: a run is going on in this program folder
        Failed, // the lock file could not be made or locked; Reason says why
    };

    // Opens or creates the lock file in programFolder (with a trailing separator) and locks it
    // without waiting. Never throws beyond std::bad_alloc. A held lock records this process's id in
    // the file, which a refused run names in its Reason.
    static ProgramFolderLock Acquire(const std::string &programFolder);

    ProgramFolderLock(ProgramFolderLock &&other) noexcept;
    ProgramFolderLock &operator=(ProgramFolderLock &&other) noexcept;
    ProgramFolderLock(const ProgramFolderLock &) = delete;
    ProgramFolderLock &operator=(const ProgramFolderLock &) = delete;
    // Releases the lock when it is held.
    ~ProgramFolderLock();

    Outcome Result() const { return result_; }
    // For Busy: the lock file and the id of the process that holds it, when it can be read;
    // for Failed: the lock file and the system's error text. Empty for Held.
    const std::string &Reason() const { return reason_; }
    // The lock file's path.
    const std::string &Path() const { return path_; }

    // The process id recorded in a lock file's text, or empty when it holds none.
    static std::string HolderIdFromText(std::string text);

private:
    ProgramFolderLock(Outcome result, std::string path, std::string reason, long handle);
    // Releases the handle, per system.
    void Release();

    Outcome result_;
    std::string path_;
    std::string reason_;
    long handle_; // the system's handle of the open lock file; -1 when none
};

} // namespace offline_upgrade
