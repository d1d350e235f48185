// KX_Rar.exe: the companion archiver of the upgrade tool. Writes the comment of a package
// archive to a file, unpacks a package safely, and makes packages. See command_line.h.
//
// The comment command runs once per package when the tool scans for packages, so it reads
// the end record by hand and loads no archive library; the other commands run in a module
// that is loaded only for them on POSIX (see ops_loader.h).

#include "kx_rar_main.h"

#include "command_line.h"
#include "comment_writer.h"
#include "rar_error.h"

#include <cstdio>
#include <exception>

namespace kx_rar {

int KxRarMain(const std::vector<std::string> &args, const std::function<int()> &runOps)
{
    try {
        const CommandLine line = ParseCommandLine(args);
        if (line.Cmd != Command::WriteComment)
            return runOps();
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

} // namespace kx_rar
