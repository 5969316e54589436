#include "tests/support/PrivateNetwork.h"

// winsock2.h must come before iphlpapi.h, which otherwise pulls in the old winsock.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <iphlpapi.h>

#include <cstdint>
#include <vector>

namespace zxtest {

std::string privateNetworkProblem() {
    // The adapter list grows between calls now and then; a few tries with the size
    // the system asked for are enough.
    std::vector<std::uint8_t> buffer(16 * 1024);
    ULONG size = static_cast<ULONG>(buffer.size());
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        result = GetAdaptersAddresses(
            AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER, nullptr,
            reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (result != NO_ERROR) {
        return "cannot list the network adapters";
    }
    bool loopbackCarriesBox = false;
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter != nullptr;
         adapter = adapter->Next) {
        const bool loopback = adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
        if (!loopback) {
            return "adapter " + std::string(adapter->AdapterName) + " is present besides loopback";
        }
        for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr; unicast = unicast->Next) {
            const sockaddr* address = unicast->Address.lpSockaddr;
            if (address != nullptr && address->sa_family == AF_INET &&
                ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr) == 0xC0A8C982u) {
                loopbackCarriesBox = true; // 192.168.201.130
            }
        }
    }
    if (!loopbackCarriesBox) {
        return "loopback does not carry 192.168.201.130";
    }
    return {};
}

} // namespace zxtest
