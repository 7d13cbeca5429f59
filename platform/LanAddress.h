// The IPv4 address by which other devices on the local network reach this PC (what a phone types or
// scans to open the jukebox's pages). It knows nothing of what is served there.
//
// Threads: any thread; pure functions apart from LanAddress, which reads the system's interface list.
#pragma once

#include <string>
#include <vector>

namespace platform {

struct InterfaceAddress {
    std::string name;     // "eth0", "wlan0", "lo", ...
    std::string address;  // dotted IPv4 text
    bool up = true;
    bool loopback = false;
};

// The address a phone should use among `interfaces`, or empty when none will do: interfaces that are down,
// loopback addresses (127/8) and link-local ones (169.254/16, only this cable) never; an address of a
// private network before any other, 192.168/16 (home and party routers) first, then 10/8, then 172.16/12
// (also where container bridges live); among equals the first in the list's order.
std::string ChooseLanAddress(const std::vector<InterfaceAddress>& interfaces);

// The IPv4 addresses of this PC's interfaces, in the system's order.
std::vector<InterfaceAddress> LocalInterfaces();

// ChooseLanAddress of this PC's interfaces.
std::string LanAddress();

}  // namespace platform
