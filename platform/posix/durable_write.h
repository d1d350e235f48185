#pragma once
// The one durable write of the POSIX form, used by the file system (WriteFileDurably) and the
// registry store: the bytes go to a new file beside the target, are flushed, the file is renamed
// over the target and the folder is flushed, so that after a crash the target holds either its
// old bytes or all the new ones.

#include <sys/stat.h>

#include <string>
#include <string_view>

namespace offline_upgrade {

// The permission bits and owner of the new file.
struct DurableFileRights {
    mode_t Mode = 0644;
    // False: Mode is asked for at creation and the umask applies; true: set as given.
    bool ExactMode = false;
    // When given: the new file gets this one's owner and group, as far as the system allows
    // (else at least its group, when the caller belongs to it).
    const struct stat *Owner = nullptr;
};

enum class DurableWriteStep { Done, Create, Rights, Write, Flush, Rename, FlushFolder };

// Writes bytes over path as described above. Returns Done, or the step that failed (errno says
// why). A failure before Rename leaves path as it was and no file beside it; after a failure
// of FlushFolder the new bytes are in place but their name may not survive a crash. Never
// throws beyond std::bad_alloc.
DurableWriteStep WriteDurably(const std::string &path, std::string_view bytes,
                              const DurableFileRights &rights = {});

// The step's words for the log, as "cannot write PATH: <words>".
const char *DurableWriteStepText(DurableWriteStep step);

} // namespace offline_upgrade
