#include "platform/win/interfaces_win.h"

#include "platform/diagnostics.h"
#include "platform/win/wide.h"

#include <winsock2.h>
#include <iphlpapi.h>
#include <ws2tcpip.h>

#include <cstring>
#include <memory>

namespace offline_upgrade {

bool UpInterfaceIPv4(std::vector<std::array<uint8_t, 4>> &addresses)
{
    addresses.clear();
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    ULONG size = 16 * 1024;
    std::unique_ptr<char[]> buffer;
    ULONG rc = ERROR_BUFFER_OVERFLOW;
    // The list may grow between two calls: ask again with the size the system gives.
    for (int attempt = 0; attempt < 4 && rc == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer = std::make_unique<char[]>(size);
        rc = GetAdaptersAddresses(AF_INET, flags, nullptr,
                                  reinterpret_cast<IP_ADAPTER_ADDRESSES *>(buffer.get()), &size);
    }
    if (rc != ERROR_SUCCESS) {
        if (rc != ERROR_NO_DATA)
            LogWarning("host identity: cannot list the interfaces: " + SystemErrorText(rc));
        return false;
    }
    for (auto *adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES *>(buffer.get()); adapter != nullptr;
         adapter = adapter->Next) {
        if (adapter->OperStatus != IfOperStatusUp || adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK)
            continue;
        for (auto *unicast = adapter->FirstUnicastAddress; unicast != nullptr;
             unicast = unicast->Next) {
            const sockaddr *address = unicast->Address.lpSockaddr;
            if (address == nullptr || address->sa_family != AF_INET)
                continue;
            std::array<uint8_t, 4> bytes;
            std::memcpy(bytes.data(),
                        &reinterpret_cast<const sockaddr_in *>(address)->sin_addr.s_addr,
                        bytes.size());
            addresses.push_back(bytes);
        }
    }
    return !addresses.empty();
}

} // namespace offline_upgrade
