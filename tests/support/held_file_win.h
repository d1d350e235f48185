#pragma once
// A file held open by this process the way another program holds one it uses, for the rows
// of files in use on Windows: the sharing is the holder's choice; closed when it goes.

#include <windows.h>

#include <filesystem>

namespace offline_upgrade {

class HeldFile {
public:
    HeldFile(const std::filesystem::path &path, DWORD sharing)
        : handle_(CreateFileW(path.wstring().c_str(), GENERIC_READ | GENERIC_WRITE, sharing,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr))
    {
    }
    ~HeldFile() { Release(); }
    HeldFile(const HeldFile &) = delete;
    HeldFile &operator=(const HeldFile &) = delete;

    bool Held() const { return handle_ != INVALID_HANDLE_VALUE; }
    void Release()
    {
        if (Held())
            CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE handle_;
};

} // namespace offline_upgrade
