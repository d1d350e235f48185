// KX_Rar.exe: the companion archiver of the upgrade tool. Writes the comment of a package
// archive to a file, unpacks a package safely, and makes packages. See command_line.h.
//
// The comment command runs once per package when the tool scans for packages, so it reads
// the end record by hand and loads no archive library; the other commands run in a module
// that is loaded only for them (see ops_loader.h).

#include "command_line.h"
#include "comment_writer.h"
#include "ops_loader.h"
#include "rar_error.h"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    try {
        const CommandLine line = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
        if (line.Cmd != Command::WriteComment)
            return RunOpsCommand(argc, argv);
        WriteArchiveComment(line.Archive, line.Operands[0]);
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
