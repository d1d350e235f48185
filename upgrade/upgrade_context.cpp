#include "upgrade/upgrade_context.h"

#include "archiver/work_folder.h"

namespace offline_upgrade {

std::string UnpackedPackageFolder(const std::string &programFolder, const std::string &packageName)
{
    if (!UnpackFolderProblem(packageName).empty())
        return {};
    return programFolder + kWorkFolderName + "/" + packageName.substr(0, packageName.size() - 4);
}

std::string UnpackedPackageFolder(const UpgradeContext &context)
{
    return UnpackedPackageFolder(context.ProgramFolder, context.Package.PackageName);
}

void FinishUpgrade(UpgradeContext &context)
{
    if (!context.AfterResult)
        return;
    const std::function<void()> work = std::move(context.AfterResult);
    context.AfterResult = nullptr;
    work();
}

} // namespace offline_upgrade
