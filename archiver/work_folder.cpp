#include "archiver/work_folder.h"

#include "platform/program_folder_lock.h"
#include "platform/text.h"

namespace offline_upgrade {

std::string ToolFileNamed(const std::string &name)
{
    std::string bare = name;
    while (!bare.empty() && (bare.back() == '.' || bare.back() == ' '))
        bare.pop_back();
    for (const std::string &tool :
         {kDescriptorFileName, kJournalFileName, std::string(kProgramFolderLockName)}) {
        if (EqualsIgnoreAsciiCase(bare, tool))
            return tool;
    }
    return {};
}

std::string UnpackFolderProblem(const std::string &packageName)
{
    if (packageName.size() <= 4)
        return "the name leaves no folder name when its last four characters (\".zip\") are "
               "taken off";
    const std::string folder = packageName.substr(0, packageName.size() - 4);
    if (folder == "." || folder == "..")
        return "its folder would be \"" + folder + "\", which is no folder of its own in " +
               kWorkFolderName;
    if (folder.find_first_of("/\\") != std::string::npos)
        return "its name holds a folder separator";
    const std::string tool = ToolFileNamed(folder);
    if (!tool.empty())
        return "its folder " + kWorkFolderName + "/" + folder + " would bear the name of the " +
               "tool's own file " + tool;
    return {};
}

} // namespace offline_upgrade
