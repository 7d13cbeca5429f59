// Byte searches over a block of 64 bytes at a time, for the hot loops of the index loader. The build
// picks the implementation for the processor it compiles for (CMakeLists.txt defines SINJO_SIMD_SSE2
// where the compiler targets SSE2, as on every x86-64; SINJO_PORTABLE_SIMD=ON forces plain C++):
//   platform/simd/MatchMaskSse2.h      sixteen bytes per instruction
//   platform/simd/MatchMaskPortable.h  one byte at a time, for any processor
// Both give the same results; callers never choose.
//
// Threads: pure functions; any thread.
#pragma once

#if SINJO_SIMD_SSE2
#include "platform/simd/MatchMaskSse2.h"
#else
#include "platform/simd/MatchMaskPortable.h"
#endif

namespace platform {

// Bit i of the result is set when p[i] is `a` or `b`, for the 64 bytes at p; all 64 must be readable.
#if SINJO_SIMD_SSE2
using simd_sse2::MatchMask64;
#else
using simd_portable::MatchMask64;
#endif

}  // namespace platform
