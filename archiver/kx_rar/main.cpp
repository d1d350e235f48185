// KX_Rar.exe: the companion archiver of the upgrade tool. Writes the comment of a package
// archive to a file, unpacks a package safely, and makes packages. See command_line.h.

#include "archive_creator.h"
#include "command_line.h"
#include "comment_writer.h"
#include "extractor.h"
#include "rar_error.h"

#include <clocale>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    // Entry names flagged as UTF-8 then come through unchanged, whatever the caller's
    // locale; names without the flag are taken as raw bytes anyway.
    std::setlocale(LC_CTYPE, "C.UTF-8");
    try {
        const CommandLine line = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
        switch (line.Cmd) {
        case Command::WriteComment:
            WriteArchiveComment(line.Archive, line.Operands[0]);
            break;
        case Command::Extract:
            ExtractArchive(line.Archive, line.Operands[0], line.Password);
            break;
        case Command::Add:
            CreateArchive(line.Archive, line.Operands, line.Password, line.CommentFile);
            break;
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
