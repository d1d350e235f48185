// Replaces the per-user application data folder of Windows with the XDG state folder, the
// place for logs that the user's programs keep between runs.
#include "platform/log_file.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace offline_upgrade {

namespace {

std::string HomeFolder()
{
    if (const char *home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd *user = ::getpwuid(::geteuid()); user && user->pw_dir)
        return user->pw_dir;
    return {};
}

// $XDG_STATE_HOME/offline-upgrade/, or ~/.local/state/offline-upgrade/; empty when neither
// can be named. A relative XDG_STATE_HOME is invalid by its rules and ignored.
std::string StateFolder()
{
    if (const char *state = std::getenv("XDG_STATE_HOME"); state && *state == '/')
        return std::string(state) + "/offline-upgrade/";
    const std::string home = HomeFolder();
    return home.empty() ? std::string() : home + "/.local/state/offline-upgrade/";
}

} // namespace

std::vector<std::string> UpgradeLogFolders(const std::string &programFolder)
{
    return {programFolder, StateFolder()};
}

std::unique_ptr<FileLogSink> OpenUpgradeLog(const std::string &programFolder)
{
    return std::make_unique<FileLogSink>(UpgradeLogFolders(programFolder));
}

} // namespace offline_upgrade
