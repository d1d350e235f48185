#pragma once
// The command line and the standard streams of a console program, in the logic's UTF-8.

#include <optional>
#include <string>
#include <vector>

namespace offline_upgrade {

// The arguments after the program's name, as UTF-8. POSIX: argv as it is. Windows: the wide
// command line split by the system (CommandLineToArgvW) and converted, since the ANSI argv
// loses whatever its code page cannot spell.
std::vector<std::string> ProgramArguments(int argc, char **argv);

// Makes std::cout and std::cerr carry UTF-8 text to the user. POSIX: nothing to do. Windows:
// a stream that is a console gets the text as wide characters (WriteConsoleW), whatever the
// console's code page, which stays as the user set it; a stream that is a pipe or a file gets
// the UTF-8 bytes as they are. Call once, before anything is written.
void UseUtf8StandardStreams();

// Asks for a secret on the terminal: prompt, then a line read without echo. False when the
// program has no terminal (its input is not a console) or the read fails.
bool ReadSecretFromTerminal(const std::string &prompt, std::string &secret);

// A variable of the environment in UTF-8; nothing when it is not set. POSIX: its bytes as they
// are. Windows: the wide environment converted, since the ANSI one loses what its code page
// cannot spell.
std::optional<std::string> EnvironmentText(const std::string &name);

} // namespace offline_upgrade
