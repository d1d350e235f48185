#pragma once
// Paths as the logic handles them: UTF-8 byte strings whose names are separated as the system
// separates them ("/" on POSIX; "\" and "/" alike on Windows, where the logic joins with "\").
// The separator rule is the system's (path_text_posix.cpp, path_text_win.cpp); the rest is
// built on it, so upgrade/ and app/ never look for a separator of their own.

#include <cstddef>
#include <string>

namespace offline_upgrade {

// True for a byte that separates two names on this system.
bool IsPathSeparator(char c);
// The separator this system writes between two names.
char PathSeparator();
// The length of the root that starts path, separators included: "/" on POSIX; "C:\", "C:",
// "\\server\share\" and "\" on Windows. 0 for a relative path.
size_t PathRootLength(const std::string &path);

// path without separators at its end; a root keeps its own ("/", "C:\").
std::string WithoutTrailingSeparators(std::string path);
// The folder holding path, without a trailing separator (a root keeps its own); "." for a
// relative path of one name; empty when nothing is above path (a root, an empty path).
std::string ParentFolder(const std::string &path);
// name below folder, with one separator between them (none added after a separator).
std::string JoinPath(const std::string &folder, const std::string &name);
// True when path is folder itself or lies below it, compared name by name as written (byte
// for byte, with either separator on Windows); neither may end in a separator but a root.
bool IsPathWithin(const std::string &path, const std::string &folder);

} // namespace offline_upgrade
