// The drivers registered for 32-bit programs: the driver list in the registry's 32-bit view,
// which the driver manager of this 64-bit program never reads.

#include "platform/odbc/odbc_data_access.h"

#include "platform/text.h"
#include "platform/win/unique_handle.h"
#include "platform/win/wide.h"

#include <windows.h>

namespace offline_upgrade {

std::vector<std::string> ListOdbcDrivers32()
{
    std::vector<std::string> names;
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers", 0,
                      KEY_QUERY_VALUE | KEY_WOW64_32KEY, &opened) != ERROR_SUCCESS)
        return names;
    const UniqueRegKey owned(opened);
    const HKEY key = opened;
    // A value name holds at most 16383 characters.
    std::wstring name(16384, L'\0');
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD type = 0;
        wchar_t data[32] = {};
        DWORD dataBytes = sizeof data - sizeof(wchar_t);
        const LONG rc = RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type,
                                      reinterpret_cast<BYTE *>(data), &dataBytes);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        // Longer data is not "Installed"; a value that cannot be read is no driver either.
        if (rc != ERROR_SUCCESS || type != REG_SZ)
            continue;
        const std::string state = Narrow(std::wstring_view(data, dataBytes / sizeof(wchar_t)));
        if (EqualsIgnoreAsciiCase(TrimControl(state), "Installed"))
            names.push_back(Narrow(std::wstring_view(name.data(), nameLength)));
    }
    return names;
}

} // namespace offline_upgrade
