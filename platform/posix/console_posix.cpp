#include "platform/console.h"

#include "platform/posix/unique_fd.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace offline_upgrade {

std::vector<std::string> ProgramArguments(int argc, char **argv)
{
    return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

void UseUtf8StandardStreams() {}

bool ReadSecretFromTerminal(const std::string &prompt, std::string &secret)
{
    secret.clear();
    const UniqueFd terminal(::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY));
    if (!terminal)
        return false;
    const int tty = terminal.get();
    struct termios saved;
    const bool echoOff = ::tcgetattr(tty, &saved) == 0;
    if (echoOff) {
        struct termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        (void)::tcsetattr(tty, TCSAFLUSH, &quiet);
    }
    (void)!::write(tty, prompt.data(), prompt.size());
    bool ok = false;
    for (char c;;) {
        const ssize_t n = ::read(tty, &c, 1);
        if (n <= 0)
            break;
        if (c == '\n') {
            ok = true;
            break;
        }
        secret += c;
    }
    if (echoOff)
        (void)::tcsetattr(tty, TCSAFLUSH, &saved);
    (void)!::write(tty, "\n", 1);
    if (!secret.empty() && secret.back() == '\r')
        secret.pop_back();
    return ok;
}

std::optional<std::string> EnvironmentText(const std::string &name)
{
    const char *value = std::getenv(name.c_str());
    return value ? std::optional<std::string>(value) : std::nullopt;
}

} // namespace offline_upgrade
