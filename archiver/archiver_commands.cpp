#include "archiver/archiver_commands.h"

#include "archiver/work_folder.h"

namespace offline_upgrade {

namespace {

// Encloses one argument in double quotes so that the Windows rules for splitting a command
// line give it back unchanged: a double quote inside, and backslashes before a double quote or
// at the end, are escaped with backslashes. Other backslashes stand for themselves.
std::string QuoteArgument(const std::string &argument)
{
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            // Backslashes before a quote are halved when split, and the quote needs its own.
            quoted.append(2 * backslashes + 1, '\\');
        } else {
            quoted.append(backslashes, '\\');
        }
        backslashes = 0;
        quoted += c;
    }
    // The closing quote must not be taken as escaped.
    quoted.append(2 * backslashes, '\\');
    quoted += '"';
    return quoted;
}

// The archiver's path comes first. A program folder on POSIX may hold a double quote or end a
// name in a backslash; the splitting rule for the program name escapes them as in the other
// arguments, so it is quoted the same way.
std::string ArchiverProgram(const std::string &programFolder)
{
    return QuoteArgument(programFolder + kArchiverImageName);
}

// Built in one place, so the line the log shows differs from the one run only in the password.
std::string ExtractCommandLineWith(const std::string &programFolder, const std::string &packageFile,
                                   const std::string &password)
{
    return ArchiverProgram(programFolder) + " x -y -p" + password + " " +
           QuoteArgument(packageFile) + " " + QuoteArgument(programFolder + kWorkFolderName);
}

} // namespace

std::string CommentCommandLine(const std::string &programFolder, const std::string &packageName)
{
    return ArchiverProgram(programFolder) + " cw -y " + QuoteArgument(programFolder + packageName) +
           " " + QuoteArgument(programFolder + kWorkFolderName + "/" + kDescriptorFileName);
}

std::string ExtractCommandLine(const std::string &programFolder, const std::string &packageFile)
{
    return ExtractCommandLineWith(programFolder, packageFile, kPackagePassword);
}

std::string MaskedExtractCommandLine(const std::string &programFolder,
                                     const std::string &packageFile)
{
    return ExtractCommandLineWith(programFolder, packageFile, "***");
}

} // namespace offline_upgrade
