#pragma once
// The unpack command: every entry of an archive below a target folder.

#include <optional>
#include <string>

namespace kx_rar {

// Unpacks every entry of the archive with its stored folder path below dest, creating dest
// and missing folders and replacing files present, each file written under a temporary name
// and renamed into place. Unencrypted entries unpack with or without a password.
//
// Before anything is written, and before dest or any of its parents is created, the archive
// is checked: it must be a regular file; its layout must hold together (zip_layout.h: the end
// record by the rule the comment command follows, local headers that match the central
// directory, no shared data); an absolute name, a drive letter, a ".." part (with "/" or
// "\"), a symbolic link or another kind that is neither file nor folder, a path that is a file
// in one entry and a folder in another, and a method that cannot be unpacked refuse the whole
// archive, and so does a total size larger than the free space where dest is or will be; so
// do a name longer than kMaxNameLength and a whole path (dest's full path and the entry's)
// longer than kMaxPathLength, counted in the system's unit (entry_name.h, entry_text.h). On
// Windows, names that Windows would read otherwise (SystemNameProblem, entry_text.h) refuse
// it too, and paths are compared without letter case: two entries whose paths differ only in
// case are duplicates there, of which the later one wins, as with equal names.
// The password is settled by decrypting the smallest encrypted entry whole; when that entry
// is large (over 8 MB) it is instead unpacked first, alone, and on a wrong password the
// folders made for it are removed again. A failure while unpacking (damaged data, full disk)
// stops the unpack: entries finished before stay in place, the entry in progress leaves
// nothing behind.
//
// Entries are unpacked by several threads when the machine has more than one core, each with
// its own reader; the work is shared out entry by entry as the threads become free. Each
// thread keeps few folders open, fewer under a low limit of open files.
//
// Throws RarError: ExitCode::Fatal for an unreadable, damaged or refused archive, or an I/O
// error; ExitCode::Checksum; ExitCode::WrongPassword; ExitCode::CannotCreate when a folder or
// file cannot be created.
void ExtractArchive(const std::string &archive, const std::string &dest,
                    const std::optional<std::string> &password);

} // namespace kx_rar
