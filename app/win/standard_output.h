#pragma once

namespace offline_upgrade {

// The standard output and error of the program without a window (--help, --unattended). The
// program is a windows-subsystem program, so Windows gives it no console of its own: what a
// caller redirected (a file or a pipe, as deployment engines do) is written as it is, and
// otherwise the lines go to the console of the process that started it, if it has one.

// Connects std::cout and std::cerr, each to its redirected handle when it has one, else to
// the parent's console. Without either, the lines are dropped (the upgrade log still has
// them). A redirected handle gets UTF-8, unless consoleCodePage and this process has a
// console (the console twin started from a prompt): then the text is written in the console's
// output code page (936 in a Chinese console), so that "type" in that console shows it; a
// character the code page lacks becomes "?". Call once, before anything is written.
void ConnectStandardOutput(bool consoleCodePage = false);

} // namespace offline_upgrade
