#pragma once
// This machine's address and name, taken once when the window is created and compared with
// the product's database server by the locality rule.

#include "platform/host_identity.h"

#include <string>

// The last IPv4 address that this machine's host name resolves to, in dotted-decimal text
// ("192.168.1.20"); empty when the host name cannot be read or does not resolve.
std::string GetLocalIPAddress(IHostIdentity &host);

// This machine's computer name, or "Unkown" when it cannot be read.
std::string GetLocalComputerName(IHostIdentity &host);
