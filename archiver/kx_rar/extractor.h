#pragma once
// The unpack command: every entry of an archive below a target folder.

#include <optional>
#include <string>

// Unpacks every entry of the archive with its stored folder path below dest, creating dest
// and missing folders and replacing files present, each file written under a temporary name
// and renamed into place. Unencrypted entries unpack with or without a password.
//
// Before anything is written, every entry is checked: an absolute name, a drive letter, a
// ".." part (with "/" or "\"), a symbolic link or another kind that is neither file nor folder
// refuses the whole archive, and so does an entry larger than the free space of dest; the
// password is tried on the first encrypted entry. Nothing is unpacked then. A failure while
// unpacking (damaged data, wrong password for a later entry, full disk) stops the unpack:
// entries finished before stay in place, the entry in progress leaves nothing behind.
//
// Entries are unpacked by several threads when the machine has more than one core, each with
// its own reader; the work is shared out entry by entry as the threads become free.
//
// Throws RarError: ExitCode::Fatal for an unreadable or damaged archive, a refused entry or
// an I/O error; ExitCode::Checksum; ExitCode::WrongPassword; ExitCode::CannotCreate when a
// folder or file cannot be created.
void ExtractArchive(const std::string &archive, const std::string &dest,
                    const std::optional<std::string> &password);
