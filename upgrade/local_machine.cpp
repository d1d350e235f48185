#include "upgrade/local_machine.h"

#include "platform/diagnostics.h"

#include <algorithm>
#include <vector>

namespace offline_upgrade {

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

namespace {

std::string List(const std::vector<Ipv4Address> &addresses)
{
    std::string text;
    for (const Ipv4Address &address : addresses)
        text += (text.empty() ? "" : ", ") + DottedDecimal(address);
    return text;
}

} // namespace

std::string GetLocalIPAddress(IHostIdentity &host)
{
    std::string name;
    if (!host.HostName(name)) {
        LogWarning("LocalIP: empty, the host name cannot be read");
        return std::string();
    }
    std::vector<Ipv4Address> addresses;
    if (!host.ResolveIPv4(name, addresses) || addresses.empty()) {
        LogWarning("LocalIP: empty, the host name " + name + " resolves to no IPv4 address");
        return std::string();
    }
    const std::string resolved = "the host name " + name + " resolves to " + List(addresses);
    // The last address of the list: the locality rule has always compared with that one.
    if (std::all_of(addresses.begin(), addresses.end(), IsLoopback)) {
        std::vector<Ipv4Address> interfaces;
        if (host.InterfaceIPv4(interfaces) && !interfaces.empty()) {
            const std::string address = DottedDecimal(interfaces.back());
            LogInfo("LocalIP: " + address + ", the last address of the interfaces (" +
                    List(interfaces) + "), as " + resolved + " (loopback only)");
            return address;
        }
        LogInfo("LocalIP: " + DottedDecimal(addresses.back()) + ", the last of them, as " +
                resolved + " (loopback only) and no interface is up");
        return DottedDecimal(addresses.back());
    }
    const std::string address = DottedDecimal(addresses.back());
    LogInfo("LocalIP: " + address + ", the last address: " + resolved);
    return address;
}

std::string GetLocalComputerName(IHostIdentity &host)
{
    std::string name;
    if (!host.ComputerName(name)) {
        LogWarning("ComputerName: \"Unkown\", the computer name cannot be read");
        return "Unkown";
    }
    LogInfo("ComputerName: " + name + ", the system's computer name");
    return name;
}

} // namespace offline_upgrade
