#pragma once
// Entry names as stored in an archive, checked before anything is written for them.

#include <string>
#include <string_view>
#include <vector>

// Splits an entry name into its folder and file names, taking "/" and "\" both as separators
// and dropping empty and "." parts. True when the name stays below the target folder; false,
// with reason set, for a name that is absolute ("/x", "\x", "\\server\x"), carries a drive
// letter ("C:\x", "C:x") or has a ".." part anywhere. An accepted name may give no parts at
// all ("./"), which names the target folder itself.
bool SplitEntryName(std::string_view name, std::vector<std::string> &parts, std::string &reason);
