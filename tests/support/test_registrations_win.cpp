#include "tests/support/test_registrations.h"

#include "platform/win/registry_win.h"

#include <windows.h>

#include <set>
#include <stdexcept>

namespace offline_upgrade {

namespace {

bool IsText(uint32_t type)
{
    return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

// UTF-8 text as UTF-16; zero bytes stay.
std::wstring Wide(const std::string &text)
{
    if (text.empty())
        return {};
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
    return wide;
}

std::wstring KeyPath(const std::string &code, const std::string &key)
{
    return Wide("Software\\vazerodu\\" + code + (key.empty() ? "" : "\\" + key));
}

} // namespace

struct TestRegistrations::State {
    WinRegistry registry;
    std::set<std::string> codes; // every product named, removed at the end
};

TestRegistrations::TestRegistrations(const std::filesystem::path &)
    : state_(std::make_unique<State>())
{
}

TestRegistrations::~TestRegistrations()
{
    Clear();
}

std::string TestRegistrations::Code(const std::string &code) const
{
    const std::string registered = code + std::to_string(GetCurrentProcessId());
    // A read creates keys of its own: whatever a test names goes at the end.
    state_->codes.insert(registered);
    return registered;
}

void TestRegistrations::Set(const std::string &code, const std::string &key,
                            const std::string &name, uint32_t type, const std::string &data)
{
    state_->codes.insert(Code(code));
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, KeyPath(Code(code), key).c_str(), 0, nullptr, 0,
                        KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &handle,
                        nullptr) != ERROR_SUCCESS)
        throw std::runtime_error("cannot create the key of " + code + " " + key);
    std::string bytes = data;
    if (IsText(type)) {
        const std::wstring text = data.empty() ? std::wstring() : Wide(data) + L'\0';
        bytes.assign(reinterpret_cast<const char *>(text.data()), text.size() * sizeof(wchar_t));
    }
    const LONG result = RegSetValueExW(handle, Wide(name).c_str(), 0, type,
                                       reinterpret_cast<const BYTE *>(bytes.data()),
                                       static_cast<DWORD>(bytes.size()));
    RegCloseKey(handle);
    if (result != ERROR_SUCCESS)
        throw std::runtime_error("cannot set " + name + " of " + code);
}

void TestRegistrations::CreateKey(const std::string &code, const std::string &key)
{
    state_->codes.insert(Code(code));
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, KeyPath(Code(code), key).c_str(), 0, nullptr, 0,
                        KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &handle,
                        nullptr) != ERROR_SUCCESS)
        throw std::runtime_error("cannot create the key of " + code + " " + key);
    RegCloseKey(handle);
}

bool TestRegistrations::KeyExists(const std::string &code, const std::string &key)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, KeyPath(Code(code), key).c_str(), 0,
                      KEY_READ | KEY_WOW64_32KEY, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

void TestRegistrations::Clear()
{
    HKEY parent = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\vazerodu", 0,
                      KEY_ALL_ACCESS | KEY_WOW64_32KEY, &parent) != ERROR_SUCCESS)
        return;
    for (const std::string &code : state_->codes)
        RegDeleteTreeW(parent, Wide(code).c_str());
    RegCloseKey(parent);
}

IRegistry &TestRegistrations::Registry()
{
    return state_->registry;
}

} // namespace offline_upgrade
