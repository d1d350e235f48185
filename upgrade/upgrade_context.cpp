#include "upgrade/upgrade_context.h"

std::string UnpackedPackageFolder(const UpgradeContext &context)
{
    const std::string &name = context.Package.PackageName;
    if (name.size() <= 4)
        return {};
    const std::string folder = name.substr(0, name.size() - 4);
    if (folder == "." || folder == ".." || folder.find('/') != std::string::npos)
        return {};
    return context.ProgramFolder + "TempUpdate/" + folder;
}
