#include "ops_commands.h"

#include "archive_creator.h"
#include "command_line.h"
#include "extractor.h"
#include "rar_error.h"

#include <cstdio>
#include <exception>

namespace kx_rar {

int RunOpsCommandLine(const std::vector<std::string> &args)
{
    try {
        const CommandLine line = ParseCommandLine(args);
        switch (line.Cmd) {
        case Command::Extract:
            ExtractArchive(line.Archive, line.Operands[0], line.Password);
            break;
        case Command::Add:
            CreateArchive(line.Archive, line.Operands, line.Password, line.CommentFile);
            break;
        case Command::WriteComment:
            throw RarError(ExitCode::Fatal, "the comment command is not in this module");
        }
        return static_cast<int>(ExitCode::Success);
    } catch (const RarError &e) {
        ShowMessage(e.what());
        if (e.Code() == ExitCode::BadCommandLine)
            std::fputs(UsageText(), stderr);
        return static_cast<int>(e.Code());
    } catch (const std::exception &e) {
        ShowMessage(e.what());
        return static_cast<int>(ExitCode::Fatal);
    }
}

} // namespace kx_rar
