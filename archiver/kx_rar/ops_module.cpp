// The module with the commands x and a; see ops_module.h.

#include "ops_module.h"

#include "archive_creator.h"
#include "command_line.h"
#include "extractor.h"
#include "rar_error.h"

#include <clocale>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

extern "C" __attribute__((visibility("default"))) int KxRarRunOps(int argc, char **argv)
{
    // Entry names flagged as UTF-8 then come through unchanged, whatever the caller's
    // locale; names without the flag are taken as raw bytes anyway.
    std::setlocale(LC_CTYPE, "C.UTF-8");
    try {
        const CommandLine line = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
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
