#include "platform/win/unique_handle.h"

#include <windows.h>

namespace offline_upgrade {

bool FileHandleTraits::Close(Type handle) noexcept
{
    return CloseHandle(handle) != 0;
}

bool KernelHandleTraits::Close(Type handle) noexcept
{
    return CloseHandle(handle) != 0;
}

bool FindHandleTraits::Close(Type handle) noexcept
{
    return FindClose(handle) != 0;
}

bool RegKeyTraits::Close(Type key) noexcept
{
    return RegCloseKey(static_cast<HKEY>(key)) == ERROR_SUCCESS;
}

} // namespace offline_upgrade
