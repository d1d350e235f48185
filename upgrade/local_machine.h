#pragma once
// This machine's address and name, taken once when the window is created and compared with
// the product's database server by the locality rule.

#include "platform/host_identity.h"

#include <string>

namespace offline_upgrade {

// The last IPv4 address that this machine's host name resolves to, in dotted-decimal text
// ("192.168.1.20"); empty when the host name cannot be read or does not resolve. When it
// resolves to loopback addresses (127.x.x.x) only, as Debian's 127.0.1.1 entry makes it, the
// last address of the interfaces that are up and not loopback stands for this machine
// instead, as other machines reach it there; the loopback address stays when there is none.
std::string GetLocalIPAddress(IHostIdentity &host);

// This machine's computer name, or "Unkown" when it cannot be read.
std::string GetLocalComputerName(IHostIdentity &host);

} // namespace offline_upgrade
