// MatchMask64 with SSE2: four 16-byte compares per block (see platform/Simd.h). Included only where the
// build targets SSE2.
#pragma once

#include <cstdint>
#include <emmintrin.h>

namespace platform::simd_sse2 {

// Bit i is set when p[i] is `a` or `b`, for the 64 bytes at p.
inline uint64_t MatchMask64(const char* p, char a, char b) {
    const __m128i first = _mm_set1_epi8(a);
    const __m128i second = _mm_set1_epi8(b);
    uint64_t mask = 0;
    for (int k = 0; k < 4; ++k) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
        const __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(v, first), _mm_cmpeq_epi8(v, second));
        mask |= static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(hit))) << (16 * k);
    }
    return mask;
}

}  // namespace platform::simd_sse2
