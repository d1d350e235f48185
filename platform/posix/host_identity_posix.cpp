#include "platform/posix/host_identity_posix.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <limits.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstring>
#include <memory>

namespace offline_upgrade {

bool PosixHostIdentity::HostName(std::string &name)
{
    // Room for the longest name the system allows and its terminating zero, so that a long
    // name is read whole rather than cut.
    char buffer[HOST_NAME_MAX + 1] = {};
    if (gethostname(buffer, sizeof buffer - 1) != 0)
        return false;
    name = buffer;
    return true;
}

bool PosixHostIdentity::ResolveIPv4(const std::string &name, std::vector<Ipv4Address> &addresses)
{
    addresses.clear();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    // One entry per address: without a socket type the resolver repeats each address for
    // every socket type it knows.
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &list) != 0)
        return false;
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> guard(list, &freeaddrinfo);
    for (const addrinfo *entry = list; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET || entry->ai_addr == nullptr)
            continue;
        const auto *address = reinterpret_cast<const sockaddr_in *>(entry->ai_addr);
        Ipv4Address bytes;
        std::memcpy(bytes.data(), &address->sin_addr.s_addr, bytes.size());
        addresses.push_back(bytes);
    }
    return !addresses.empty();
}

bool PosixHostIdentity::InterfaceIPv4(std::vector<Ipv4Address> &addresses)
{
    addresses.clear();
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        return false;
    std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> guard(list, &freeifaddrs);
    for (const ifaddrs *entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET ||
            (entry->ifa_flags & IFF_UP) == 0 || (entry->ifa_flags & IFF_LOOPBACK) != 0)
            continue;
        const auto *address = reinterpret_cast<const sockaddr_in *>(entry->ifa_addr);
        Ipv4Address bytes;
        std::memcpy(bytes.data(), &address->sin_addr.s_addr, bytes.size());
        addresses.push_back(bytes);
    }
    return !addresses.empty();
}

bool PosixHostIdentity::ComputerName(std::string &name)
{
    utsname info{};
    if (uname(&info) != 0)
        return false;
    name = info.nodename;
    return true;
}

} // namespace offline_upgrade
