#pragma once
// The work folder "TempUpdate" of the program folder belongs to the archiver: the comment
// command writes the descriptor file into it, and the extract command unpacks every entry a
// package holds below it, whatever the entries are named. So nothing the tool must still find
// after an unpack lies there: its own files (the log, the program folder lock, the journal of
// the file stage) lie in the program folder itself, which no archiver command writes into.

#include <string>

namespace offline_upgrade {

inline const std::string kWorkFolderName = "TempUpdate";
// The descriptor file in the work folder; the scan clears its place before every comment
// command, so an entry unpacked there earlier is never read.
inline const std::string kDescriptorFileName = "Update.ini";
// The journal of the file stage, in the program folder.
inline const std::string kJournalFileName = "UpdateFiles.journal";

// Why a package file named packageName (no folder part) cannot have a folder of its own in
// the work folder, or empty when it can. The folder is the name without its last four
// characters (".zip"); it must be a name of its own: not empty, ".", "..", no separator, and
// not the name of one of the tool's files (the descriptor file, the journal, the lock),
// compared without letter case and without the dots and blanks Windows drops at a name's end,
// as Windows would find it. Removing that folder before an unpack must never take a file of
// the tool's with it.
std::string UnpackFolderProblem(const std::string &packageName);

// The name of the tool's file that name would be taken for, in the way UnpackFolderProblem
// compares, or empty when it is none of them.
std::string ToolFileNamed(const std::string &name);

} // namespace offline_upgrade
