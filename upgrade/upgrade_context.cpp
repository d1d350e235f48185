#include "upgrade/upgrade_context.h"

std::string UnpackedPackageFolder(const std::string &programFolder, const std::string &packageName)
{
    if (packageName.size() <= 4)
        return {};
    const std::string folder = packageName.substr(0, packageName.size() - 4);
    if (folder == "." || folder == ".." || folder.find('/') != std::string::npos)
        return {};
    return programFolder + "TempUpdate/" + folder;
}

std::string UnpackedPackageFolder(const UpgradeContext &context)
{
    return UnpackedPackageFolder(context.ProgramFolder, context.Package.PackageName);
}
