#include "rar_error.h"

#include <unistd.h>

void ShowMessage(const std::string &text)
{
    const std::string line = "KX_Rar.exe: " + text + "\n";
    // Nothing sensible is left to do when stderr itself cannot be written.
    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, line.data(), line.size());
}
