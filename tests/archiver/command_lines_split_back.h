#pragma once
// The archiver's command lines, made for a folder and a package name, split back by the
// system's rule into exactly the program, the command and its paths.

#include "archiver/archiver_commands.h"
#include "real_services.h" // SplitWindowsCommandLine, this system's own

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace offline_upgrade {

inline void ExpectCommandLinesSplitBack(std::initializer_list<const char *> folders)
{
    const char *names[] = {
        "plain.zip", "two  blanks.zip", "quote\"inside.zip", "trailing\\", "back\\\\slash.zip",
        "\\\"",      "tab\there.zip",   "中文.zip",
    };
    for (const std::string folder : folders) {
        for (const std::string name : names) {
            const std::vector<std::string> comment = {
                folder + "KX_Rar.exe", "cw", "-y", folder + name, folder + "TempUpdate/Update.ini"};
            EXPECT_EQ(SplitWindowsCommandLine(CommentCommandLine(folder, name)), comment)
                << folder << " " << name;
            const std::vector<std::string> extract = {
                folder + "KX_Rar.exe", "x", "-y", "-pxr352", folder + name, folder + "TempUpdate"};
            EXPECT_EQ(SplitWindowsCommandLine(ExtractCommandLine(folder, folder + name)), extract)
                << folder << " " << name;
        }
    }
}

} // namespace offline_upgrade
