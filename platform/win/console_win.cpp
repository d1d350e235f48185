// UTF-8 text on a Windows console: WriteConsoleW shows every character whatever the console's
// code page, where setting the code page to UTF-8 would outlive the program in the user's
// console and, on older consoles, break characters cut between two writes. Pipes and files
// get the bytes, so that a build pipeline reads UTF-8 (the JSON output).

#include "platform/console.h"

#include "platform/win/unique_handle.h"
#include "platform/win/wide.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <iostream>
#include <streambuf>

namespace offline_upgrade {

namespace {

// The length of the longest prefix of text that ends on a whole UTF-8 character: a character
// cut at the end of a write is kept for the next one.
size_t WholeCharacters(const std::string &text)
{
    size_t end = text.size();
    for (size_t back = 1; back <= 3 && back <= text.size(); ++back) {
        const auto c = static_cast<unsigned char>(text[text.size() - back]);
        if ((c & 0xC0) == 0x80)
            continue; // a continuation byte: look further back for its lead
        const size_t need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        if (need > back)
            end = text.size() - back;
        break;
    }
    return end;
}

class ConsoleBuffer : public std::streambuf {
public:
    explicit ConsoleBuffer(HANDLE console) : console_(console) {}

protected:
    int_type overflow(int_type c) override
    {
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            pending_ += traits_type::to_char_type(c);
            if (c == '\n' || pending_.size() >= 4096)
                Write();
        }
        return traits_type::not_eof(c);
    }

    std::streamsize xsputn(const char *s, std::streamsize n) override
    {
        pending_.append(s, static_cast<size_t>(n));
        if (pending_.size() >= 4096 || pending_.find('\n') != std::string::npos)
            Write();
        return n;
    }

    int sync() override { return Write() ? 0 : -1; }

private:
    bool Write()
    {
        const size_t whole = WholeCharacters(pending_);
        const std::wstring wide = Widen(std::string_view(pending_).substr(0, whole));
        pending_.erase(0, whole);
        size_t done = 0;
        while (done < wide.size()) {
            DWORD wrote = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<size_t>(wide.size() - done, 8192));
            if (!WriteConsoleW(console_, wide.data() + done, chunk, &wrote, nullptr) || wrote == 0)
                return false;
            done += wrote;
        }
        return true;
    }

    HANDLE console_;
    std::string pending_;
};

bool IsConsole(HANDLE handle)
{
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           GetFileType(handle) == FILE_TYPE_CHAR && GetConsoleMode(handle, &mode);
}

void UseConsoleFor(std::ostream &stream, DWORD which)
{
    const HANDLE handle = GetStdHandle(which);
    if (!IsConsole(handle))
        return;
    stream.flush();
    // Never deleted: the streams are flushed once more after main returns.
    stream.rdbuf(new ConsoleBuffer(handle));
}

} // namespace

std::vector<std::string> ProgramArguments(int, char **)
{
    std::vector<std::string> arguments;
    int count = 0;
    if (LPWSTR *words = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 1; i < count; ++i)
            arguments.push_back(Narrow(words[i]));
        LocalFree(words);
    }
    return arguments;
}

void UseUtf8StandardStreams()
{
    UseConsoleFor(std::cout, STD_OUTPUT_HANDLE);
    UseConsoleFor(std::cerr, STD_ERROR_HANDLE);
}

bool ReadSecretFromTerminal(const std::string &prompt, std::string &secret)
{
    secret.clear();
    const UniqueFileHandle input(CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
    const UniqueFileHandle output(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, 0, nullptr));
    DWORD mode = 0;
    if (!input || !GetConsoleMode(input.get(), &mode))
        return false;
    if (output) {
        const std::wstring wide = Widen(prompt);
        DWORD wrote = 0;
        WriteConsoleW(output.get(), wide.data(), static_cast<DWORD>(wide.size()), &wrote, nullptr);
    }
    SetConsoleMode(input.get(),
                   (mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) | ENABLE_LINE_INPUT);
    std::wstring line;
    wchar_t piece[256];
    DWORD got = 0;
    bool ok = false;
    while (ReadConsoleW(input.get(), piece, 256, &got, nullptr) && got > 0) {
        line.append(piece, got);
        if (line.find(L'\n') != std::wstring::npos || line.find(L'\r') != std::wstring::npos) {
            ok = true;
            break;
        }
    }
    SetConsoleMode(input.get(), mode);
    if (output) {
        DWORD wrote = 0;
        WriteConsoleW(output.get(), L"\r\n", 2, &wrote, nullptr);
    }
    const size_t end = line.find_first_of(L"\r\n");
    secret = Narrow(line.substr(0, end));
    return ok;
}

std::optional<std::string> EnvironmentText(const std::string &name)
{
    const std::wstring wide = Widen(name);
    const DWORD size = GetEnvironmentVariableW(wide.c_str(), nullptr, 0);
    if (size == 0)
        return std::nullopt;
    std::wstring value(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(wide.c_str(), value.data(), size);
    value.resize(length);
    return Narrow(value);
}

} // namespace offline_upgrade
