#include "rar_error.h"

#include "file_access.h"

namespace kx_rar {

void ShowMessage(const std::string &text)
{
    const std::string line = "KX_Rar.exe: " + text + "\n";
    fa::WriteError(line);
}

} // namespace kx_rar
