#pragma once
// The host identity on Windows: Winsock's gethostname and getaddrinfo (IPv4 only), the IP
// helper's adapter list for the interfaces' addresses, and GetComputerNameW.

#include "platform/host_identity.h"

namespace offline_upgrade {

class WinHostIdentity : public IHostIdentity {
public:
    WinHostIdentity();
    ~WinHostIdentity() override;
    WinHostIdentity(const WinHostIdentity &) = delete;
    WinHostIdentity &operator=(const WinHostIdentity &) = delete;

    bool HostName(std::string &name) override;
    bool ResolveIPv4(const std::string &name, std::vector<Ipv4Address> &addresses) override;
    bool InterfaceIPv4(std::vector<Ipv4Address> &addresses) override;
    bool ComputerName(std::string &name) override;

private:
    bool started_ = false; // Winsock started by this object
};

} // namespace offline_upgrade
