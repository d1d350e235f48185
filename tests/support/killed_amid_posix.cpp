#include "tests/support/killed_amid.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace offline_upgrade {

bool KilledAtFileMove(FaultyFileSystem &files, int n, const std::function<void()> &run)
{
    int ready[2];
    if (::pipe(ready) != 0)
        return false;
    const pid_t child = ::fork();
    if (child < 0)
        return false;
    if (child == 0) {
        ::close(ready[0]);
        int moves = 0;
        files.BeforeOperation = [&](int, const std::string &name) {
            if ((name == "RenameFile" || name == "ExchangeFiles") && ++moves == n) {
                (void)!::write(ready[1], "r", 1);
                for (;;)
                    ::pause();
            }
        };
        run();
        ::_exit(1); // the stage ended before that step
    }
    ::close(ready[1]);
    char byte = 0;
    const bool reached = ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    return reached && WIFSIGNALED(status);
}

} // namespace offline_upgrade
