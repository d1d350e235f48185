#include "tests/support/temp_folder.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace offline_upgrade {

TempFolder::TempFolder()
{
    // Fresh random names until one is free: creating a folder fails when the name is taken, on
    // every system, so no other test's folder is ever reused.
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto candidate = std::filesystem::temp_directory_path() /
                               ("kxtest-" + std::to_string(random() % 100000000));
        std::error_code ec;
        if (std::filesystem::create_directory(candidate, ec)) {
            // For the owner alone, as a private temporary folder is.
            std::filesystem::permissions(candidate, std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::replace, ec);
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot make a temporary folder");
}

TempFolder::~TempFolder()
{
    std::error_code ec;
    // Tests may leave read-only folders behind; give write rights back before removing.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(path_, ec);
}

std::filesystem::path TempFolder::Write(const std::string &relative, const std::string &bytes) const
{
    const std::filesystem::path file = path_ / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + file.string());
    return file;
}

std::string ReadWholeFile(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::filesystem::path BinDir()
{
    const char *dir = std::getenv("KX_BIN_DIR");
    if (!dir)
        throw std::runtime_error("KX_BIN_DIR is not set: run the tests through ctest");
    return dir;
}

} // namespace offline_upgrade
