#pragma once
// The two command lines the tool gives the archiver: the comment command of the package scan
// and the extract command of the upgrade run.

#include <string>

namespace offline_upgrade {

// The image name of the archiver, which lies in the program folder; the waits look for it.
inline const std::string kArchiverImageName = "KX_Rar.exe";

// The password every package archive is encrypted with; only the extract command carries it.
inline const std::string kPackagePassword = "xr352";

// Every path is enclosed in double quotes, so blanks in the program folder or in package names
// do no harm. A double quote or a trailing backslash in a name (possible on POSIX, never on
// Windows) is escaped by the Windows quoting rules, so the archiver still gets the name whole;
// that holds for the archiver's own path too (see SplitWindowsCommandLine).

// Has the archiver write the archive comment of the package file packageName (without folder)
// of programFolder (with its trailing separator) into the descriptor file:
//   "{folder}KX_Rar.exe" cw -y "{folder}{name}" "{folder}TempUpdate/Update.ini"
std::string CommentCommandLine(const std::string &programFolder, const std::string &packageName);

// Has the archiver unpack the package file packageFile (a full path) with the package
// password into the work folder, named without a trailing separator:
//   "{folder}KX_Rar.exe" x -y -pxr352 "{package}" "{folder}TempUpdate"
std::string ExtractCommandLine(const std::string &programFolder, const std::string &packageFile);

// The extract command as the log shows it: the same line with "***" for the password.
std::string MaskedExtractCommandLine(const std::string &programFolder,
                                     const std::string &packageFile);

} // namespace offline_upgrade
