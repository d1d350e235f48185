#include "tests/support/archiver_stand_in.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace offline_upgrade {

bool ActAsArchiverIfAsked()
{
    const char *real = std::getenv(kStandInVariable);
    if (!real)
        return false;
    std::ifstream cmdline("/proc/self/cmdline", std::ios::binary);
    std::vector<std::string> arguments;
    for (std::string argument; std::getline(cmdline, argument, '\0');)
        arguments.push_back(argument);
    for (const std::string &argument : arguments) {
        if (argument.ends_with("_stuck.zip")) {
            while (true)
                pause();
        }
    }
    std::vector<char *> argv;
    for (std::string &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    execv(real, argv.data());
    _exit(127);
}

std::filesystem::path ThisProgram()
{
    return std::filesystem::read_symlink("/proc/self/exe");
}

void SetTestVariable(const char *name, const char *value)
{
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

} // namespace offline_upgrade
