#include "platform/LanAddress.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(LanAddress, ChoosesWhatAPhoneOnTheSameNetworkCanReach) {
    const InterfaceAddress lo{"lo", "127.0.0.1", true, true};
    const InterfaceAddress docker{"docker0", "172.17.0.1", true, false};
    const InterfaceAddress wifi{"wlan0", "192.168.1.20", true, false};
    const InterfaceAddress isp{"ppp0", "203.0.113.9", true, false};
    const InterfaceAddress linkLocal{"eth1", "169.254.3.4", true, false};
    const InterfaceAddress down{"eth0", "10.0.0.5", false, false};
    const InterfaceAddress office{"eth0", "10.1.2.3", true, false};
    struct Case {
        std::vector<InterfaceAddress> interfaces;
        std::string expected;
    } cases[] = {
        {{}, ""},
        {{lo}, ""},
        {{lo, wifi}, "192.168.1.20"},
        {{isp, wifi}, "192.168.1.20"},       // a private network before a public address
        {{isp, lo}, "203.0.113.9"},          // but a public one when nothing else will do
        {{linkLocal, isp}, "203.0.113.9"},   // link-local reaches only this cable
        {{down, linkLocal}, ""},             // a down interface reaches nobody
        {{office, wifi}, "192.168.1.20"},    // a home router's network first
        {{docker, office}, "10.1.2.3"},      // a container bridge last of the private ones
        {{docker, isp}, "172.17.0.1"},       // but before a public address
        {{office, {"eth2", "10.9.9.9", true, false}}, "10.1.2.3"},  // the first of equals
        {{{"x", "not an address", true, false}, {"y", "", true, false}}, ""},
        {{{"lo2", "127.5.5.5", true, false}}, ""},  // loopback by address even without the flag
    };
    for (const Case& c : cases) {
        std::string names;
        for (const InterfaceAddress& i : c.interfaces) names += i.name + "=" + i.address + " ";
        EXPECT_EQ(ChooseLanAddress(c.interfaces), c.expected) << names;
    }
}

TEST(LanAddress, TheSystemListHoldsTheLoopbackInterface) {
    bool loopback = false;
    for (const InterfaceAddress& i : LocalInterfaces()) loopback = loopback || (i.loopback && i.address == "127.0.0.1");
    EXPECT_TRUE(loopback);
    EXPECT_NE(LanAddress(), "127.0.0.1");
}

}  // namespace
}  // namespace platform
