#pragma once
// kxpack, the package makers' tool: check, blocks, files and make, on the same rules as the
// upgrade tool.

#include "kxpack/check.h"

#include <ostream>
#include <string>
#include <vector>

namespace kxpack {

// Exit codes.
inline constexpr int kPackClean = 0;      // no error
inline constexpr int kPackErrors = 1;     // the package has errors (make: none left behind)
inline constexpr int kPackUnreadable = 2; // the package cannot be read
inline constexpr int kPackBadCommand = 3; // bad command line (usage on err)

// Runs one command given by the arguments after the program name.
int RunKxpack(const KxpackServices &services, const std::vector<std::string> &args,
              std::ostream &out, std::ostream &err);

const char *KxpackUsage();

} // namespace kxpack
