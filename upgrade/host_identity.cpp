#include "upgrade/host_identity.h"

#include <algorithm>
#include <vector>

namespace {

std::string DottedDecimal(const Ipv4Address &address)
{
    std::string text;
    for (size_t i = 0; i < address.size(); ++i) {
        if (i != 0)
            text += '.';
        text += std::to_string(address[i]);
    }
    return text;
}

bool IsLoopback(const Ipv4Address &address)
{
    return address[0] == 127;
}

} // namespace

std::string GetLocalIPAddress(IHostIdentity &host)
{
    std::string name;
    if (!host.HostName(name))
        return std::string();
    std::vector<Ipv4Address> addresses;
    if (!host.ResolveIPv4(name, addresses) || addresses.empty())
        return std::string();
    // The last address of the list: the locality rule has always compared with that one.
    if (std::all_of(addresses.begin(), addresses.end(), IsLoopback)) {
        std::vector<Ipv4Address> interfaces;
        if (host.InterfaceIPv4(interfaces) && !interfaces.empty())
            return DottedDecimal(interfaces.back());
    }
    return DottedDecimal(addresses.back());
}

std::string GetLocalComputerName(IHostIdentity &host)
{
    std::string name;
    if (!host.ComputerName(name))
        return "Unkown";
    return name;
}
