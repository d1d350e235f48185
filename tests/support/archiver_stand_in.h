#pragma once
// A test program standing in for the archiver: copied as "KX_Rar.exe" and started while the
// variable kStandInVariable names the real archiver, it hangs on an archive named
// "*_stuck.zip", as the archiver would on a share that stopped answering, and hands every other
// command line to the real archiver, ending with its exit code.

#include <filesystem>

namespace offline_upgrade {

inline constexpr const char *kStandInVariable = "KX_TEST_REAL_ARCHIVER";

// Run before the test framework starts (from a namespace-scope initializer): when the variable
// is set, acts as said and never returns; otherwise returns false.
bool ActAsArchiverIfAsked();
// The file of this running program.
std::filesystem::path ThisProgram();
// Sets (value) or clears (nullptr) a variable of this process's environment, which the
// processes it starts inherit.
void SetTestVariable(const char *name, const char *value);

} // namespace offline_upgrade
