#pragma once
// The host identity on POSIX: gethostname for the host name, getaddrinfo (IPv4 only) for its
// addresses, getifaddrs for the interfaces' addresses, and uname's node name for the computer
// name. No NetBIOS name exists here; the
// node name is what other machines and the database servers know this one by.

#include "platform/host_identity.h"

namespace offline_upgrade {

class PosixHostIdentity : public IHostIdentity {
public:
    bool HostName(std::string &name) override;
    bool ResolveIPv4(const std::string &name, std::vector<Ipv4Address> &addresses) override;
    bool InterfaceIPv4(std::vector<Ipv4Address> &addresses) override;
    bool ComputerName(std::string &name) override;
};

} // namespace offline_upgrade
