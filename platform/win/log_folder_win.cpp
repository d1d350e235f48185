// The folders of the upgrade log on Windows: the program folder, then the user's local
// application data folder (%LOCALAPPDATA%\offline-upgrade\).
#include "platform/log_file.h"

#include "platform/win/wide.h"

#include <windows.h>
#include <shlobj.h>

namespace offline_upgrade {

namespace {

std::string LocalAppDataFolder()
{
    wchar_t *folder = nullptr;
    std::string path;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &folder)) && folder)
        path = Narrow(folder) + "\\offline-upgrade\\";
    CoTaskMemFree(folder);
    return path;
}

} // namespace

std::vector<std::string> UpgradeLogFolders(const std::string &programFolder)
{
    return {programFolder, LocalAppDataFolder()};
}

std::unique_ptr<FileLogSink> OpenUpgradeLog(const std::string &programFolder)
{
    return std::make_unique<FileLogSink>(UpgradeLogFolders(programFolder));
}

} // namespace offline_upgrade
