#pragma once
// The owner of a POSIX file descriptor (scoped_handle.h).

#include "platform/scoped_handle.h"

#include <unistd.h>

namespace offline_upgrade {

struct FdTraits {
    using Type = int;
    static int Invalid() noexcept { return -1; }
    // close() is not retried on EINTR: Linux frees the descriptor whatever it reports.
    static bool Close(int fd) noexcept { return ::close(fd) == 0; }
};

using UniqueFd = ScopedHandle<FdTraits>;

} // namespace offline_upgrade
