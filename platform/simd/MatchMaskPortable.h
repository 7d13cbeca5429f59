// MatchMask64 in plain C++, for any processor (see platform/Simd.h).
#pragma once

#include <cstdint>

namespace platform::simd_portable {

// Bit i is set when p[i] is `a` or `b`, for the 64 bytes at p.
inline uint64_t MatchMask64(const char* p, char a, char b) {
    uint64_t mask = 0;
    for (int i = 0; i < 64; ++i) mask |= static_cast<uint64_t>(p[i] == a || p[i] == b) << i;
    return mask;
}

}  // namespace platform::simd_portable
