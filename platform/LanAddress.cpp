#include "platform/LanAddress.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cstdint>

namespace platform {
namespace {

// The address as a host-order number; false for text that is not a dotted IPv4 address.
bool Parse(const std::string& text, uint32_t* value) {
    in_addr parsed{};
    if (inet_pton(AF_INET, text.c_str(), &parsed) != 1) return false;
    *value = ntohl(parsed.s_addr);
    return true;
}

bool InBlock(uint32_t address, uint32_t block, int prefix) {
    const uint32_t mask = prefix == 0 ? 0 : ~uint32_t{0} << (32 - prefix);
    return (address & mask) == (block & mask);
}

// Lower is better: home and party routers hand out 192.168/16, offices 10/8; 172.16/12 comes last of the
// private blocks because container bridges (docker0 and the like) take their addresses from it.
int Rank(uint32_t a) {
    if (InBlock(a, 0xC0A80000, 16)) return 0;
    if (InBlock(a, 0x0A000000, 8)) return 1;
    if (InBlock(a, 0xAC100000, 12)) return 2;
    return 3;
}

}  // namespace

std::string ChooseLanAddress(const std::vector<InterfaceAddress>& interfaces) {
    std::string best;
    int bestRank = 4;
    for (const InterfaceAddress& entry : interfaces) {
        uint32_t a = 0;
        if (!entry.up || entry.loopback || !Parse(entry.address, &a)) continue;
        if (InBlock(a, 0x7F000000, 8) || InBlock(a, 0xA9FE0000, 16) || a == 0) continue;
        if (Rank(a) < bestRank) {
            bestRank = Rank(a);
            best = entry.address;
        }
    }
    return best;
}

std::vector<InterfaceAddress> LocalInterfaces() {
    std::vector<InterfaceAddress> list;
    ifaddrs* all = nullptr;
    if (getifaddrs(&all) != 0) return list;
    for (const ifaddrs* entry = all; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) == nullptr) continue;
        list.push_back(InterfaceAddress{entry->ifa_name != nullptr ? entry->ifa_name : "", text,
                                        (entry->ifa_flags & IFF_UP) != 0, (entry->ifa_flags & IFF_LOOPBACK) != 0});
    }
    freeifaddrs(all);
    return list;
}

std::string LanAddress() { return ChooseLanAddress(LocalInterfaces()); }

}  // namespace platform
