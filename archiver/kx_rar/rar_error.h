#pragma once
// Exit codes of KX_Rar.exe, after the usual console-archiver convention, and the one error type
// that carries a failure with its code up to main.

#include <stdexcept>
#include <string>

namespace kx_rar {

enum class ExitCode : int {
    Success = 0,
    Fatal = 2,          // damaged or unreadable archive, refused entry, I/O error
    Checksum = 3,       // data does not match its stored checksum
    BadCommandLine = 7, // with the usage text on stderr
    CannotCreate = 9,   // a file or folder cannot be created
    WrongPassword = 11,
};

class RarError : public std::runtime_error {
public:
    RarError(ExitCode code, const std::string &message) : std::runtime_error(message), code_(code)
    {
    }
    ExitCode Code() const { return code_; }

private:
    ExitCode code_;
};

// Writes one line "KX_Rar.exe: text" to stderr in a single write, so lines of two threads do
// not mix.
void ShowMessage(const std::string &text);

} // namespace kx_rar
