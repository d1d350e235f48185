#include "app/win/standard_output.h"

#include "platform/win/wide.h"

#include <windows.h>

#include <iostream>
#include <streambuf>
#include <string>
#include <utility>

namespace {

// Writes the stream's UTF-8 text to a console as UTF-16, whatever the console's code page,
// line by line and on every flush.
class ConsoleBuffer : public std::streambuf {
public:
    explicit ConsoleBuffer(HANDLE console) : console_(console) {}

protected:
    int_type overflow(int_type c) override
    {
        if (traits_type::eq_int_type(c, traits_type::eof()))
            return sync() == 0 ? traits_type::not_eof(c) : traits_type::eof();
        pending_.push_back(traits_type::to_char_type(c));
        if (c == '\n')
            Write();
        return c;
    }
    std::streamsize xsputn(const char *text, std::streamsize count) override
    {
        pending_.append(text, static_cast<size_t>(count));
        if (pending_.find('\n') != std::string::npos)
            Write();
        return count;
    }
    int sync() override
    {
        Write();
        return 0;
    }

private:
    void Write()
    {
        // A character cut by the buffer's end waits for its other bytes.
        size_t end = pending_.size();
        size_t start = end;
        while (start > 0 && (static_cast<unsigned char>(pending_[start - 1]) & 0xC0) == 0x80)
            --start;
        if (start > 0) {
            const unsigned char lead = static_cast<unsigned char>(pending_[start - 1]);
            const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
            if (end - (start - 1) < length)
                end = start - 1;
        }
        const std::wstring wide = Widen(std::string_view(pending_).substr(0, end));
        // The console takes \n as a line end.
        DWORD written = 0;
        WriteConsoleW(console_, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        pending_.erase(0, end);
    }

    HANDLE console_;
    std::string pending_;
};

bool IsConsole(HANDLE handle)
{
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) != FALSE;
}

// The stream writes to the console as UTF-16 from now on. The buffer is kept to the end of
// the program: the streams are flushed after every static is gone.
void ToConsole(std::ostream &stream, HANDLE console)
{
    stream.flush();
    stream.rdbuf(new ConsoleBuffer(console));
}

} // namespace

void ConnectStandardOutput()
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
    const std::pair<std::ostream *, DWORD> streams[] = {{&std::cout, STD_OUTPUT_HANDLE},
                                                        {&std::cerr, STD_ERROR_HANDLE}};
    for (const auto &[stream, which] : streams) {
        HANDLE handle = GetStdHandle(which);
        const DWORD type =
            handle && handle != INVALID_HANDLE_VALUE ? GetFileType(handle) : FILE_TYPE_UNKNOWN;
        // A file or a pipe takes the UTF-8 bytes as they are.
        if (type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE)
            continue;
        if (type == FILE_TYPE_CHAR) {
            // A console handed over (usable once attached to its console), or a device such
            // as NUL, which takes the bytes.
            if (IsConsole(handle) || (attach() && IsConsole(handle)))
                ToConsole(*stream, handle);
            continue;
        }
        if (!attach())
            continue;
        HANDLE console =
            CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (console == INVALID_HANDLE_VALUE)
            continue;
        SetStdHandle(which, console);
        ToConsole(*stream, console);
    }
}
