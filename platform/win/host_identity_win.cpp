#include "platform/win/host_identity_win.h"

#include "platform/diagnostics.h"
#include "platform/win/interfaces_win.h"
#include "platform/win/wide.h"

#include <winsock2.h>
#include <windows.h>
#include <ws2tcpip.h>

#include <array>
#include <cstring>
#include <memory>

namespace offline_upgrade {

WinHostIdentity::WinHostIdentity()
{
    WSADATA data{};
    const int rc = WSAStartup(MAKEWORD(2, 2), &data);
    started_ = rc == 0;
    if (!started_)
        LogWarning("host identity: cannot start Winsock: " +
                   SystemErrorText(static_cast<unsigned long>(rc)));
}

WinHostIdentity::~WinHostIdentity()
{
    if (started_)
        WSACleanup();
}

bool WinHostIdentity::HostName(std::string &name)
{
    char buffer[256 + 1] = {};
    if (gethostname(buffer, sizeof buffer - 1) != 0) {
        LogWarning("host identity: cannot read the host name: " +
                   SystemErrorText(static_cast<unsigned long>(WSAGetLastError())));
        return false;
    }
    // Winsock gives the name in the ANSI code page.
    name = Narrow(Widen(buffer, kAnsiCodePage));
    return true;
}

bool WinHostIdentity::ResolveIPv4(const std::string &name, std::vector<Ipv4Address> &addresses)
{
    addresses.clear();
    ADDRINFOW hints{};
    hints.ai_family = AF_INET;
    // One entry per address, not one per socket type.
    hints.ai_socktype = SOCK_STREAM;
    ADDRINFOW *list = nullptr;
    if (GetAddrInfoW(Widen(name).c_str(), nullptr, &hints, &list) != 0)
        return false;
    std::unique_ptr<ADDRINFOW, decltype(&FreeAddrInfoW)> guard(list, &FreeAddrInfoW);
    for (const ADDRINFOW *entry = list; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET || entry->ai_addr == nullptr)
            continue;
        const auto *address = reinterpret_cast<const sockaddr_in *>(entry->ai_addr);
        Ipv4Address bytes;
        std::memcpy(bytes.data(), &address->sin_addr.s_addr, bytes.size());
        addresses.push_back(bytes);
    }
    return !addresses.empty();
}

bool WinHostIdentity::InterfaceIPv4(std::vector<Ipv4Address> &addresses)
{
    addresses.clear();
    std::vector<std::array<uint8_t, 4>> found;
    if (!UpInterfaceIPv4(found))
        return false;
    addresses.assign(found.begin(), found.end());
    return !addresses.empty();
}

bool WinHostIdentity::ComputerName(std::string &name)
{
    wchar_t buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(buffer, &size)) {
        LogWarning("host identity: cannot read the computer name: " + LastErrorText());
        return false;
    }
    name = Narrow(std::wstring_view(buffer, size));
    return true;
}

} // namespace offline_upgrade
