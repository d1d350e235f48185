#pragma once
// This machine's identity as the locality rule of the database connection sees it: its host
// name, the IPv4 addresses that name resolves to, the addresses of its network interfaces,
// and its computer name.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace offline_upgrade {

// One IPv4 address, in network order (the first byte is the first number of the dotted form).
using Ipv4Address = std::array<uint8_t, 4>;

class IHostIdentity {
public:
    virtual ~IHostIdentity() = default;

    // This machine's host name. False when it cannot be read; name is then unspecified.
    [[nodiscard]] virtual bool HostName(std::string &name) = 0;

    // The IPv4 addresses the resolver gives for name, in the resolver's order, with
    // repetitions as the resolver gives them. False when the name does not resolve to any
    // IPv4 address; addresses is then empty.
    [[nodiscard]] virtual bool ResolveIPv4(const std::string &name,
                                           std::vector<Ipv4Address> &addresses) = 0;

    // The IPv4 addresses of this machine's network interfaces that are up and are not
    // loopback interfaces, in the order the system lists them. False when there is none or
    // the list cannot be read; addresses is then empty.
    [[nodiscard]] virtual bool InterfaceIPv4(std::vector<Ipv4Address> &addresses) = 0;

    // The name this machine calls itself by. False when it cannot be read; name is then
    // unspecified.
    [[nodiscard]] virtual bool ComputerName(std::string &name) = 0;
};

} // namespace offline_upgrade
