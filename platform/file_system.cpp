#include "platform/file_system.h"

#include "platform/diagnostics.h"

#include <exception>

bool IFileSystem::CopyFilesBeside(const std::vector<FileCopy> &copies,
                                  const std::function<void(size_t)> &copied)
{
    for (size_t i = 0; i < copies.size(); ++i) {
        const FileCopy &copy = copies[i];
        try {
            if (!CopyFileBeside(copy.Source, copy.Dest, copy.Temp)) {
                LogError("cannot copy " + copy.Source + " to " + copy.Temp);
                return false;
            }
        } catch (const std::exception &error) {
            LogError("cannot copy " + copy.Source + " to " + copy.Temp + ": " + error.what());
            return false;
        }
        copied(i);
    }
    return true;
}
