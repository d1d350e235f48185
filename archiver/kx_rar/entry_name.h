#pragma once
// Entry names as stored in an archive, checked before anything is written for them.

#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// Splits an entry name into its folder and file names, taking "/" and "\" both as separators
// and dropping empty and "." parts. True when the name stays below the target folder; false,
// with reason set, for a name that is absolute ("/x", "\x", "\\server\x"), carries a drive
// letter ("C:\x", "C:x") or has a ".." part anywhere. An accepted name may give no parts at
// all ("./"), which names the target folder itself.
bool SplitEntryName(std::string_view name, std::vector<std::string> &parts, std::string &reason);

// Why part, one name of an accepted entry's path, cannot be a name on Windows as stored, or
// empty when it can: a ":" (an alternate data stream, or a drive), a device name (CON, PRN,
// AUX, NUL, COM1-COM9, LPT1-LPT9, in any letter case, also with an extension), a name ending
// in "." or a space (Windows drops those, so two names would meet), or a character Windows
// forbids in names (control characters and < > " | ? *).
std::string WindowsNameProblem(std::string_view part);

// Finds entries that make one path both a file and a folder ("a" and "a/b", in either order):
// unpacked, one would fail or replace the other depending on the order of the writes.
class PathClashFinder {
public:
    // key gives the form under which the system finds the same file (see SameFileKey);
    // none: the path itself.
    explicit PathClashFinder(std::string (*key)(const std::string &) = nullptr) : key_(key) {}
    // An accepted entry's parts (from SplitEntryName); a folder entry names a folder too.
    void Add(const std::vector<std::string> &parts, bool isFile);
    // The paths that are files of one entry and folders of another, joined with "/", as the
    // first entry that named them spelled them.
    std::vector<std::string> Clashes() const;

private:
    std::string (*key_)(const std::string &);
    std::unordered_set<std::string> files_, folders_;
    std::unordered_map<std::string, std::string> shown_;
};
