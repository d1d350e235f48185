#include "tests/archiver/command_lines_split_back.h"

#include <gtest/gtest.h>

namespace offline_upgrade {

namespace {

// POSIX folders may hold a double quote; the system's rule would end a quoted program name at
// it, which is why no Windows folder holds one.
TEST(CommandLinesPosix, FoldersWithADoubleQuoteSplitBackIntoTheirPaths)
{
    ExpectCommandLinesSplitBack({"/srv/a\"b/", "/say \"hi\"/", "/q\\\"/", "/\"/", "/\\\\\"\\/"});
}

} // namespace

} // namespace offline_upgrade
