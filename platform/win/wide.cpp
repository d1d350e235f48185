#include "platform/win/wide.h"

#include <windows.h>

std::wstring Widen(std::string_view utf8)
{
    if (utf8.empty())
        return {};
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    return wide;
}

std::string Narrow(std::wstring_view wide)
{
    if (wide.empty())
        return {};
    const int size = static_cast<int>(wide.size());
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), length, nullptr, nullptr);
    return utf8;
}

std::string SystemErrorText(unsigned long code)
{
    wchar_t *message = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, reinterpret_cast<wchar_t *>(&message), 0,
                                        nullptr);
    std::string text = "code " + std::to_string(code);
    if (length > 0 && message != nullptr) {
        std::wstring_view view(message, length);
        while (!view.empty() && (view.back() == L'\n' || view.back() == L'\r' || view.back() == L' '))
            view.remove_suffix(1);
        text += ": " + Narrow(view);
    }
    if (message != nullptr)
        LocalFree(message);
    return text;
}

std::string LastErrorText()
{
    return SystemErrorText(GetLastError());
}
