#include "tests/support/unprivileged.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace offline_upgrade {

std::string RunUnprivileged(const std::function<std::string()> &body)
{
    int fds[2];
    if (::pipe(fds) != 0)
        throw std::runtime_error("pipe failed");
    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::close(fds[0]);
        int code = 0;
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 ||
             ::setresgid(kUnprivilegedId, kUnprivilegedId, kUnprivilegedId) != 0 ||
             ::setresuid(kUnprivilegedId, kUnprivilegedId, kUnprivilegedId) != 0)) {
            code = 3;
        } else {
            try {
                const std::string out = body();
                for (size_t done = 0; done < out.size();) {
                    const ssize_t n = ::write(fds[1], out.data() + done, out.size() - done);
                    if (n < 0 && errno != EINTR) {
                        code = 4;
                        break;
                    }
                    done += n > 0 ? static_cast<size_t>(n) : 0;
                }
            } catch (...) {
                code = 5;
            }
        }
        // No test framework teardown in the child: it belongs to the parent.
        ::_exit(code);
    }
    ::close(fds[1]);
    std::string out;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(fds[0], chunk, sizeof chunk);
        if (n > 0)
            out.append(chunk, static_cast<size_t>(n));
        else if (n == 0 || errno != EINTR)
            break;
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("unprivileged child failed, status " + std::to_string(status));
    return out;
}

} // namespace offline_upgrade
