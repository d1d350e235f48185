#pragma once
// Entry names as stored in an archive, checked before anything is written for them.

#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace kx_rar {

// Splits an entry name into its folder and file names, taking "/" and "\" both as separators
// and dropping empty and "." parts. True when the name stays below the target folder; false,
// with reason set, for a name that is absolute ("/x", "\x", "\\server\x"), carries a drive
// letter ("C:\x", "C:x") or has a ".." part anywhere. An accepted name may give no parts at
// all ("./"), which names the target folder itself.
bool SplitEntryName(std::string_view name, std::vector<std::string> &parts, std::string &reason);

// Why part, one name of an accepted entry's path, cannot be a name on Windows as stored, or
// empty when it can: a ":" (an alternate data stream, or a drive), a device name, a name
// ending in "." or a space (Windows drops those, so two names would meet), or a character
// Windows forbids in names (control characters and < > " | ? *). Device names are read as
// Windows reads them: the name without its trailing dots and spaces, up to its first "." (any
// extension), without the spaces before that, in any letter case, is CON, PRN, AUX, NUL,
// CONIN$, CONOUT$, or COM or LPT with one digit 0-9 or a superscript digit (the Latin-1
// characters for 1, 2 and 3, which Windows takes as digits there).
std::string WindowsNameProblem(std::string_view part);

// The longest name of one file or folder that the file systems take: 255 bytes on Linux
// (NAME_MAX), 255 UTF-16 units on Windows (255 bytes of UTF-8 under Wine, on a Linux host).
constexpr size_t kMaxNameLength = 255;
// The longest whole path (the target folder's full path, a separator and the entry's path)
// that an unpack writes, in the same units: within the 4,096 bytes of a path that Linux
// programs hand to the system with its terminating zero (PATH_MAX), so every unpacked file
// can be named by its path afterwards; on Windows well within the 32,767 units of a path with
// the long-path prefix, the same figure for both forms of the archiver.
constexpr size_t kMaxPathLength = 4095;

// How a system counts the length of a name or a path given in UTF-8.
enum class LengthUnit { Bytes, Utf16 };

// The length of text, UTF-8, in unit: its bytes, or the UTF-16 units of its characters (two
// for a character past U+FFFF).
size_t TextLength(std::string_view text, LengthUnit unit);

// Why part, one name of an accepted entry's path, is longer than kMaxNameLength in unit, or
// empty when it is not.
std::string NameLengthProblem(std::string_view part, LengthUnit unit);

// Why the whole path of an entry, its path below the target (parts joined with one
// separator) appended to target (the target folder's full path), is longer than
// kMaxPathLength in unit, or empty when it is not.
std::string PathLengthProblem(std::string_view target, std::string_view path, LengthUnit unit);

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

} // namespace kx_rar
