#pragma once
// The command line of KX_Rar.exe: a command, switches and names.
//
//   KX_Rar.exe cw -y ARCHIVE FILE                                  archive comment into FILE
//   KX_Rar.exe x -y [-pPASSWORD] ARCHIVE DEST                      unpack below folder DEST
//   KX_Rar.exe a -y [-pPASSWORD] [-zCOMMENTFILE] ARCHIVE PATH...   make a new archive
//
// Switches may stand anywhere after the command; "--" ends them, so later names may start
// with "-". The program never asks, so "-y" is accepted and changes nothing.

#include <optional>
#include <string>
#include <vector>

namespace kx_rar {

enum class Command { WriteComment, Extract, Add };

struct CommandLine {
    Command Cmd = Command::WriteComment;
    std::optional<std::string> Password;    // -p
    std::optional<std::string> CommentFile; // -z
    std::string Archive;
    std::vector<std::string> Operands; // FILE, DEST or the PATHs
};

// Parses the arguments after the program name. Throws RarError with ExitCode::BadCommandLine
// for an unknown command or switch, a switch the command does not take, an empty password or
// comment file name, or a wrong number of names.
CommandLine ParseCommandLine(const std::vector<std::string> &args);

// The usage text shown on stderr with a bad command line.
const char *UsageText();

} // namespace kx_rar
