#pragma once
// A temporary folder for one test, removed with everything in it when the test ends.

#include <filesystem>
#include <string>

namespace offline_upgrade {

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;

    const std::filesystem::path &Path() const { return path_; }
    // The folder with a trailing separator, as the tool writes folder paths.
    std::string Slashed() const { return path_.string() + "/"; }

    // Writes bytes to a file below the folder, creating its parent folders.
    std::filesystem::path Write(const std::string &relative, const std::string &bytes) const;

private:
    std::filesystem::path path_;
};

// Reads a whole file; empty when it cannot be read.
std::string ReadWholeFile(const std::filesystem::path &path);

// The folder holding the built programs (build/bin), from the test environment.
std::filesystem::path BinDir();

} // namespace offline_upgrade
