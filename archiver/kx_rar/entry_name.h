#pragma once
// Entry names as stored in an archive, checked before anything is written for them.

#include <string>
#include <unordered_set>
#include <string_view>
#include <vector>

// Splits an entry name into its folder and file names, taking "/" and "\" both as separators
// and dropping empty and "." parts. True when the name stays below the target folder; false,
// with reason set, for a name that is absolute ("/x", "\x", "\\server\x"), carries a drive
// letter ("C:\x", "C:x") or has a ".." part anywhere. An accepted name may give no parts at
// all ("./"), which names the target folder itself.
bool SplitEntryName(std::string_view name, std::vector<std::string> &parts, std::string &reason);

// Finds entries that make one path both a file and a folder ("a" and "a/b", in either order):
// unpacked, one would fail or replace the other depending on the order of the writes.
class PathClashFinder {
public:
    // An accepted entry's parts (from SplitEntryName); a folder entry names a folder too.
    void Add(const std::vector<std::string> &parts, bool isFile);
    // The paths that are files of one entry and folders of another, joined with "/".
    std::vector<std::string> Clashes() const;

private:
    std::unordered_set<std::string> files_, folders_;
};
