// The byte search the build chose against the plain C++ one, which no x86-64 build uses otherwise.
#include "platform/Simd.h"
#include "platform/simd/MatchMaskPortable.h"

#include <gtest/gtest.h>

#include <random>

namespace platform {
namespace {

TEST(SimdTest, TheChosenMatchMaskAgreesWithThePortableOne) {
    char block[64 + 15];
    std::mt19937 random(64);
    const char bytes[] = {',', '"', 'a', '\0', '\xAC', '\x22' + 1, '\x80'};
    for (int round = 0; round < 2000; ++round) {
        for (char& c : block) c = bytes[random() % sizeof bytes];
        const char* p = block + round % 16;  // any alignment
        uint64_t expected = 0;
        for (int i = 0; i < 64; ++i) expected |= uint64_t{p[i] == ',' || p[i] == '"'} << i;
        ASSERT_EQ(MatchMask64(p, ',', '"'), expected);
        ASSERT_EQ(simd_portable::MatchMask64(p, ',', '"'), expected);
        ASSERT_EQ(MatchMask64(p, '\xAC', '\x80'), simd_portable::MatchMask64(p, '\xAC', '\x80'));
    }
}

}  // namespace
}  // namespace platform
