#include "platform/win/wide.h"

#include <windows.h>

namespace offline_upgrade {

static_assert(kUtf8CodePage == CP_UTF8 && kAnsiCodePage == CP_ACP);

std::wstring Widen(std::string_view text, unsigned codePage)
{
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
    if (length <= 0)
        return {};
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), length);
    return wide;
}

std::string Narrow(std::wstring_view wide, unsigned codePage)
{
    if (wide.empty())
        return {};
    const int size = static_cast<int>(wide.size());
    const int length =
        WideCharToMultiByte(codePage, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return {};
    std::string text(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), size, text.data(), length, nullptr, nullptr);
    return text;
}

std::string SystemErrorText(unsigned long code)
{
    wchar_t *message = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t *>(&message), 0, nullptr);
    std::string text = "code " + std::to_string(code);
    if (length > 0 && message != nullptr) {
        std::wstring_view view(message, length);
        while (!view.empty() &&
               (view.back() == L'\n' || view.back() == L'\r' || view.back() == L' '))
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

} // namespace offline_upgrade
