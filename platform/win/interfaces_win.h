#pragma once
// The IPv4 addresses of the network interfaces that are up and not loopback, from the IP
// helper's adapter list. Apart from host_identity_win.cpp because the IP helper's headers
// declare a type of the same name as the interface's address type.

#include <array>
#include <cstdint>
#include <vector>

namespace offline_upgrade {

// False when the list cannot be read or holds no such address (the cause is logged).
bool UpInterfaceIPv4(std::vector<std::array<uint8_t, 4>> &addresses);

} // namespace offline_upgrade
