#include "command_line.h"

#include "rar_error.h"

namespace kx_rar {

namespace {

[[noreturn]] void Bad(const std::string &message)
{
    throw RarError(ExitCode::BadCommandLine, message);
}

struct CommandInfo {
    const char *Name;
    Command Cmd;
    bool TakesPassword;
    bool TakesComment;
    size_t MinOperands;
    size_t MaxOperands;
};

constexpr CommandInfo kCommands[] = {
    {"cw", Command::WriteComment, false, false, 1, 1},
    {"x", Command::Extract, true, false, 1, 1},
    {"a", Command::Add, true, true, 1, SIZE_MAX},
};

} // namespace

CommandLine ParseCommandLine(const std::vector<std::string> &args)
{
    if (args.empty())
        Bad("no command given");
    const CommandInfo *info = nullptr;
    for (const CommandInfo &c : kCommands) {
        if (args[0] == c.Name)
            info = &c;
    }
    if (!info)
        Bad("unknown command \"" + args[0] + "\"");

    CommandLine line;
    line.Cmd = info->Cmd;
    std::vector<std::string> names;
    bool switchesEnded = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (switchesEnded || arg.size() < 2 || arg[0] != '-') {
            names.push_back(arg);
            continue;
        }
        if (arg == "--") {
            switchesEnded = true;
        } else if (arg == "-y") {
            // Nothing is ever asked.
        } else if (arg[1] == 'p' && info->TakesPassword) {
            if (arg.size() == 2)
                Bad("-p needs the password directly after it; the program never asks for one");
            line.Password = arg.substr(2);
        } else if (arg[1] == 'z' && info->TakesComment) {
            if (arg.size() == 2)
                Bad("-z needs the comment file name directly after it");
            line.CommentFile = arg.substr(2);
        } else {
            Bad("switch \"" + arg + "\" is unknown or not taken by command \"" + args[0] + "\"");
        }
    }
    if (names.empty())
        Bad("no archive name given");
    const size_t operands = names.size() - 1;
    if (operands < info->MinOperands || operands > info->MaxOperands)
        Bad("wrong number of names for command \"" + args[0] + "\"");
    for (const std::string &name : names) {
        if (name.empty())
            Bad("empty name");
    }
    line.Archive = names[0];
    line.Operands.assign(names.begin() + 1, names.end());
    return line;
}

const char *UsageText()
{
    return "Usage:\n"
           "  KX_Rar.exe cw -y ARCHIVE FILE\n"
           "      write the archive comment, byte for byte, into FILE (empty when there is none)\n"
           "  KX_Rar.exe x -y [-pPASSWORD] ARCHIVE DEST\n"
           "      unpack every entry with its folder path below the folder DEST\n"
           "  KX_Rar.exe a -y [-pPASSWORD] [-zCOMMENTFILE] ARCHIVE PATH...\n"
           "      make ARCHIVE anew from files and folders (AES-256 with a password),\n"
           "      its comment taken byte for byte from COMMENTFILE\n"
           "Switches may stand anywhere after the command; \"--\" ends them.\n"
           "Exit codes: 0 success, 2 fatal error, 3 checksum error, 7 bad command line,\n"
           "9 cannot create a file, 11 wrong password.\n";
}

} // namespace kx_rar
