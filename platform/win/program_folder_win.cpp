// The folder of the running .exe, from the module file name.
#include "platform/program_folder.h"

#include "platform/error.h"
#include "platform/win/wide.h"

#include <windows.h>

namespace offline_upgrade {

std::string GetProgramFolder()
{
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD got = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (got == 0)
            throw KxError("cannot find the program file: " + LastErrorText());
        // A result that fills the buffer has been cut.
        if (got < name.size()) {
            name.resize(got);
            break;
        }
        name.resize(name.size() * 2);
    }
    const size_t separator = name.find_last_of(L"\\/");
    if (separator == std::wstring::npos)
        throw KxError("cannot find the program folder");
    return Narrow(name.substr(0, separator + 1));
}

} // namespace offline_upgrade
