#include "app/win/standard_output.h"

#include "platform/console.h"
#include "platform/win/wide.h"

#include <windows.h>

#include <iostream>
#include <streambuf>
#include <string>
#include <string_view>

namespace offline_upgrade {

namespace {

bool IsConsole(HANDLE handle)
{
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) != FALSE;
}

// UTF-8 text written to a file or pipe in a code page, whole lines at a time (a character is
// never cut between two writes).
class CodePageBuffer : public std::streambuf {
public:
    CodePageBuffer(HANDLE handle, UINT codePage) : handle_(handle), codePage_(codePage) {}

protected:
    int_type overflow(int_type c) override
    {
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            pending_ += traits_type::to_char_type(c);
            if (c == '\n')
                Write();
        }
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char *s, std::streamsize n) override
    {
        pending_.append(s, static_cast<size_t>(n));
        if (pending_.find('\n') != std::string::npos)
            Write();
        return n;
    }
    int sync() override { return Write() ? 0 : -1; }

private:
    bool Write()
    {
        const size_t end = pending_.rfind('\n');
        if (end == std::string::npos && pending_.size() < 4096)
            return true;
        const size_t whole = end == std::string::npos ? pending_.size() : end + 1;
        const std::wstring wide = Widen(std::string_view(pending_).substr(0, whole));
        pending_.erase(0, whole);
        if (wide.empty())
            return true;
        const std::string bytes = Narrow(wide, codePage_);
        DWORD wrote = 0;
        return bytes.empty() || (WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()),
                                           &wrote, nullptr) &&
                                 wrote == bytes.size());
    }

    HANDLE handle_;
    UINT codePage_;
    std::string pending_;
};

// The stream's redirected handle in the console's code page, when that is not UTF-8.
void UseConsoleCodePageFor(std::ostream &stream, DWORD which)
{
    const UINT codePage = GetConsoleOutputCP();
    if (codePage == 0 || codePage == CP_UTF8)
        return;
    HANDLE handle = GetStdHandle(which);
    const DWORD type =
        handle && handle != INVALID_HANDLE_VALUE ? GetFileType(handle) : FILE_TYPE_UNKNOWN;
    if (type != FILE_TYPE_DISK && type != FILE_TYPE_PIPE)
        return;
    stream.flush();
    // Never deleted: the streams are flushed once more after main returns.
    stream.rdbuf(new CodePageBuffer(handle, codePage));
}

} // namespace

void ConnectStandardOutput(bool consoleCodePage)
{
    bool attached = false;
    // The console of the process that started this one, as a console program would have it;
    // "access denied" says that the program has a console already (Wine gives it the parent's).
    auto attach = [&attached] {
        if (!attached)
            attached = AttachConsole(ATTACH_PARENT_PROCESS) != FALSE ||
                       GetLastError() == ERROR_ACCESS_DENIED;
        return attached;
    };
    for (const DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        HANDLE handle = GetStdHandle(which);
        const DWORD type =
            handle && handle != INVALID_HANDLE_VALUE ? GetFileType(handle) : FILE_TYPE_UNKNOWN;
        // A file or a pipe takes the UTF-8 bytes as they are.
        if (type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE)
            continue;
        if (type == FILE_TYPE_CHAR) {
            // A console handed over, usable once attached to its console; or a device such as
            // NUL, which takes the bytes.
            if (!IsConsole(handle))
                attach();
            continue;
        }
        if (!attach())
            continue;
        HANDLE console =
            CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (console != INVALID_HANDLE_VALUE)
            SetStdHandle(which, console);
    }
    // Every standard stream that is now a console gets the text as UTF-16.
    UseUtf8StandardStreams();
    if (consoleCodePage) {
        UseConsoleCodePageFor(std::cout, STD_OUTPUT_HANDLE);
        UseConsoleCodePageFor(std::cerr, STD_ERROR_HANDLE);
    }
}

} // namespace offline_upgrade
