// Reads what a visible top-level window of the class named shows, for the scripts that drive
// the real program under Wine and X: its caption and screen place, then each control below it
// with its id, class, visibility, enabled state, screen place and text. A test reads the
// window as the user sees it (a message box's text is a control of the box, which no X tool
// can read), and clicks a control at its place.
//
//   window_peek.exe CLASS          e.g. TForm1, or #32770 for a message box
//
// Output, UTF-8, one line each, fields separated by tabs (line breaks in texts become " "):
//   window  CLASS  handle  left,top,right,bottom  caption
//   control ID  CLASS  visible(0/1)  enabled(0/1)  left,top,right,bottom  text
// Exit code 0 when such a window is shown, 1 when none is.

#include "platform/win/wide.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace offline_upgrade {

namespace {

std::wstring ClassOf(HWND hwnd)
{
    wchar_t name[256] = {};
    GetClassNameW(hwnd, name, 256);
    return name;
}

std::string TextOf(HWND hwnd)
{
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
    for (wchar_t &c : text)
        if (c == L'\r' || c == L'\n' || c == L'\t')
            c = L' ';
    return Narrow(text);
}

std::string PlaceOf(HWND hwnd)
{
    RECT r{};
    GetWindowRect(hwnd, &r);
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
           "," + std::to_string(r.bottom);
}

struct Search {
    std::wstring ClassName;
    HWND Found = nullptr;
};

BOOL CALLBACK FindTopLevel(HWND hwnd, LPARAM param)
{
    auto &search = *reinterpret_cast<Search *>(param);
    if (IsWindowVisible(hwnd) && ClassOf(hwnd) == search.ClassName) {
        search.Found = hwnd;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK PrintControl(HWND hwnd, LPARAM)
{
    const std::string line = "control\t" + std::to_string(GetDlgCtrlID(hwnd)) + "\t" +
                             Narrow(ClassOf(hwnd)) + "\t" + (IsWindowVisible(hwnd) ? "1" : "0") +
                             "\t" + (IsWindowEnabled(hwnd) ? "1" : "0") + "\t" + PlaceOf(hwnd) +
                             "\t" + TextOf(hwnd) + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    return TRUE;
}

} // namespace

} // namespace offline_upgrade

int main(int argc, char **argv)
{
    using namespace offline_upgrade;
    if (argc != 2) {
        std::fputs("usage: window_peek.exe CLASS\n", stderr);
        return 2;
    }
    // Lines end in LF only, as the scripts reading them expect.
    _setmode(_fileno(stdout), _O_BINARY);
    Search search{Widen(argv[1])};
    EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&search));
    if (!search.Found)
        return 1;
    const std::string head = "window\t" + std::string(argv[1]) + "\t" +
                             std::to_string(reinterpret_cast<uintptr_t>(search.Found)) + "\t" +
                             PlaceOf(search.Found) + "\t" + TextOf(search.Found) + "\n";
    std::fwrite(head.data(), 1, head.size(), stdout);
    EnumChildWindows(search.Found, PrintControl, 0);
    std::fflush(stdout);
    return 0;
}
