#include "tools/vci-sim/PrivateNamespaceCheck.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <set>

namespace vcisim {

std::string privateNamespaceProblem() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return "cannot list the network interfaces";
    }
    std::set<std::string> interfaces;
    bool boxAddressOnLo = false;
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        interfaces.insert(entry->ifa_name);
        if (entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_INET) {
            const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
            if (ntohl(address->sin_addr.s_addr) == 0xC0A8C982u && std::string(entry->ifa_name) == "lo") {
                boxAddressOnLo = true; // 192.168.201.130
            }
        }
    }
    freeifaddrs(list);
    for (const auto& name : interfaces) {
        if (name != "lo") {
            return "interface " + name + " is present besides lo";
        }
    }
    if (!boxAddressOnLo) {
        return "lo does not carry 192.168.201.130";
    }
    return {};
}

} // namespace vcisim
