// The rights each Windows program asks for, read back from the built files' manifests: the
// tool an administrator's, its helpers their caller's.
#include "platform/win/wide.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

namespace offline_upgrade {

namespace {

namespace fs = std::filesystem;

// The program's manifest resource (the one the system reads when it starts the program).
std::string ManifestOf(const fs::path &program)
{
    HMODULE module = LoadLibraryExW(program.c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (module == nullptr)
        return "cannot load: " + LastErrorText();
    std::string text;
    if (HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24))) {
        if (HGLOBAL loaded = LoadResource(module, found))
            text.assign(static_cast<const char *>(LockResource(loaded)),
                        SizeofResource(module, found));
    }
    FreeLibrary(module);
    return text;
}

TEST(Manifest, EachProgramAsksForItsExecutionLevel)
{
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const fs::path bin = fs::path(self).parent_path().parent_path() / "bin";
    const struct {
        const wchar_t *program;
        const char *level;
    } cases[] = {
        {L"offline-upgrade.exe", "requireAdministrator"},
        {L"offline-upgrade.com", "requireAdministrator"},
        {L"KX_Rar.exe", "asInvoker"},
        {L"kxpack.exe", "asInvoker"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(Narrow(c.program));
        const std::string manifest = ManifestOf(bin / c.program);
        std::smatch level;
        ASSERT_TRUE(std::regex_search(
            manifest, level, std::regex(R"re(<requestedExecutionLevel\s+level="([A-Za-z]+)")re")))
            << manifest;
        EXPECT_EQ(level[1].str(), c.level);
    }
}

} // namespace

} // namespace offline_upgrade
