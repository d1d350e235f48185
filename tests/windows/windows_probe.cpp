// Answers look-ups through the Windows APIs themselves, so that the native readers can be
// compared with them under Wine. Built with MinGW, run as
//     windows_probe.exe REQUESTS ANSWERS
// REQUESTS holds one request a line, fields separated by blanks, every text field as the hex
// of its UTF-8 (or raw) bytes ("-" for the empty text); ANSWERS gets one line per request:
//   reset KEY                 deletes HKEY_LOCAL_MACHINE\KEY with everything below it -> "ok"
//   import PATH               runs "regedit /s PATH" -> its exit code; imports in a row run
//                             side by side, each must name keys of its own
//   ini PATH SECTION KEY      GetPrivateProfileStringA and ...W, buffers of 2048 characters,
//                             default "<none>" -> "A W": A's raw bytes, W's text in UTF-8
//   reg SUBKEY NAME           RegOpenKeyEx (HKEY_LOCAL_MACHINE) and RegQueryValueEx, in both
//                             forms -> "A W", each "nokey", "novalue" or "TYPE:DATA"; W's
//                             string data converted to UTF-8, all other data raw
//   argv LINE                 CommandLineToArgvW -> the arguments in UTF-8, blank-separated
// Names given to the A functions are the request's bytes as they are; the W functions get
// them converted from UTF-8.

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string FromHex(const std::string &hex)
{
    std::string out;
    if (hex == "-")
        return out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

std::string ToHex(const std::string &bytes)
{
    if (bytes.empty())
        return "-";
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::wstring Wide(const std::string &utf8)
{
    if (utf8.empty())
        return {};
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string Utf8(const wchar_t *text, size_t units)
{
    if (units == 0)
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(units), nullptr, 0,
                                      nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(units), out.data(), n, nullptr, nullptr);
    return out;
}

std::string Ini(const std::string &path, const std::string &section, const std::string &key)
{
    char a[2048] = {};
    const DWORD an =
        GetPrivateProfileStringA(section.c_str(), key.c_str(), "<none>", a, sizeof a, path.c_str());
    wchar_t w[2048] = {};
    const DWORD wn = GetPrivateProfileStringW(Wide(section).c_str(), Wide(key).c_str(), L"<none>",
                                              w, 2048, Wide(path).c_str());
    return ToHex(std::string(a, an)) + " " + ToHex(Utf8(w, wn));
}

bool IsStringType(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// "nokey", "novalue" or "TYPE:DATA" from the 8-bit functions: the data's raw bytes.
std::string RegA(const std::string &subKey, const std::string &name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "nokey";
    std::string answer = "novalue";
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        std::string data(size, '\0');
        if (RegQueryValueExA(key, name.c_str(), nullptr, &type,
                             reinterpret_cast<BYTE *>(data.data()), &size) == ERROR_SUCCESS) {
            data.resize(size);
            answer = std::to_string(type) + ":" + ToHex(data);
        }
    }
    RegCloseKey(key);
    return answer;
}

// The same from the wide functions: string data in UTF-8, other data raw.
std::string RegW(const std::string &subKey, const std::string &name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(subKey).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "nokey";
    const std::wstring wideName = Wide(name);
    std::string answer = "novalue";
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, wideName.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        std::vector<BYTE> data(size + 2);
        if (RegQueryValueExW(key, wideName.c_str(), nullptr, &type, data.data(), &size) ==
            ERROR_SUCCESS) {
            const std::string bytes =
                IsStringType(type) ? Utf8(reinterpret_cast<const wchar_t *>(data.data()), size / 2)
                                   : std::string(reinterpret_cast<const char *>(data.data()), size);
            answer = std::to_string(type) + ":" + ToHex(bytes);
        }
    }
    RegCloseKey(key);
    return answer;
}

// Starts "regedit /s PATH"; the caller waits. Imports of different keys run side by side.
HANDLE StartImport(const std::string &path)
{
    std::wstring line = L"regedit.exe /s \"" + Wide(path) + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return nullptr;
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

std::string AwaitImport(HANDLE process)
{
    if (!process)
        return "nostart";
    WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return std::to_string(code);
}

std::string Argv(const std::string &line)
{
    int count = 0;
    const std::wstring wide = Wide(line);
    wchar_t **args = CommandLineToArgvW(wide.c_str(), &count);
    if (!args)
        return "fail";
    std::string answer = std::to_string(count);
    for (int i = 0; i < count; ++i)
        answer += " " + ToHex(Utf8(args[i], wcslen(args[i])));
    LocalFree(args);
    return answer;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: windows_probe REQUESTS ANSWERS\n");
        return 2;
    }
    std::ifstream requests(argv[1], std::ios::binary);
    std::ofstream answers(argv[2], std::ios::binary);
    if (!requests || !answers) {
        std::fprintf(stderr, "windows_probe: cannot open %s or %s\n", argv[1], argv[2]);
        return 2;
    }
    std::vector<std::string> out;
    // Imports in a row run together; every other request waits for them first.
    std::vector<std::pair<size_t, HANDLE>> importing;
    auto awaitImports = [&] {
        for (auto &[index, process] : importing)
            out[index] = AwaitImport(process);
        importing.clear();
    };
    for (std::string line; std::getline(requests, line);) {
        std::istringstream fields(line);
        std::string verb, f1, f2, f3;
        fields >> verb >> f1 >> f2 >> f3;
        if (verb == "import") {
            out.emplace_back();
            importing.emplace_back(out.size() - 1, StartImport(FromHex(f1)));
            continue;
        }
        awaitImports();
        std::string answer;
        if (verb == "reset") {
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, Wide(FromHex(f1)).c_str());
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, Wide(FromHex(f1)).c_str());
            answer = "ok";
        } else if (verb == "ini") {
            answer = Ini(FromHex(f1), FromHex(f2), FromHex(f3));
        } else if (verb == "reg") {
            answer = RegA(FromHex(f1), FromHex(f2)) + " " + RegW(FromHex(f1), FromHex(f2));
        } else if (verb == "argv") {
            answer = Argv(FromHex(f1));
        } else {
            answer = "unknown";
        }
        out.push_back(answer);
    }
    awaitImports();
    for (const std::string &answer : out)
        answers << answer << "\n";
    return answers ? 0 : 1;
}
