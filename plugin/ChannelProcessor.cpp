#include "plugin/ChannelProcessor.h"

#include <bit>
#include <cstring>

namespace sinjoplugin {
namespace {

// Whole frames are handled as lanes of a vector: a 16-bit stereo frame is one 32-bit lane, an 8-bit
// stereo frame one 16-bit lane. The compiler turns the lane operations into SIMD instructions, which
// keeps the plug-in's cost close to a plain copy: 16-byte vectors everywhere, 32-byte vectors where the
// processor has AVX2 and 64-byte vectors where it has AVX-512 (chosen once at run time, since the module is built for the baseline processor).
// (Spelled out per type: the vector attribute cannot apply to a template parameter.)
template <class Lane, int Bytes>
struct VecOf;
template <>
struct VecOf<uint16_t, 16> {
    typedef uint16_t type __attribute__((vector_size(16)));
};
template <>
struct VecOf<uint16_t, 32> {
    typedef uint16_t type __attribute__((vector_size(32)));
};
template <>
struct VecOf<uint16_t, 64> {
    typedef uint16_t type __attribute__((vector_size(64)));
};
template <>
struct VecOf<uint32_t, 16> {
    typedef uint32_t type __attribute__((vector_size(16)));
};
template <>
struct VecOf<uint32_t, 32> {
    typedef uint32_t type __attribute__((vector_size(32)));
};
template <>
struct VecOf<uint32_t, 64> {
    typedef uint32_t type __attribute__((vector_size(64)));
};

// In memory order the first sample of a frame is the low half of the lane on a little-endian machine
// and the high half on a big-endian one.
constexpr bool kFirstIsLow = std::endian::native == std::endian::little;

template <class Lane, int HalfBits, bool TakeLow>
inline Lane SelectHalf(Lane x) {
    constexpr Lane kLowMask = static_cast<Lane>((1u << HalfBits) - 1u);
    if constexpr (TakeLow) {
        return static_cast<Lane>((x & kLowMask) | static_cast<Lane>(x << HalfBits));
    } else {
        return static_cast<Lane>((x & static_cast<Lane>(~kLowMask)) | static_cast<Lane>(x >> HalfBits));
    }
}

template <class Lane, int HalfBits, bool TakeLow, int VecBytes>
inline void SelectFramesImpl(uint8_t* out, const uint8_t* in, size_t frames) {
    using V = typename VecOf<Lane, VecBytes>::type;
    static_assert(sizeof(V) == VecBytes);
    constexpr size_t kFramesPerVec = VecBytes / sizeof(Lane);
    constexpr Lane kLowMask = static_cast<Lane>((1u << HalfBits) - 1u);
    size_t f = 0;
    for (; f + kFramesPerVec <= frames; f += kFramesPerVec) {
        V v;
        std::memcpy(&v, in + f * sizeof(Lane), sizeof v);
        if constexpr (TakeLow) {
            v = (v & kLowMask) | (v << HalfBits);
        } else {
            v = (v & static_cast<Lane>(~kLowMask)) | (v >> HalfBits);
        }
        std::memcpy(out + f * sizeof(Lane), &v, sizeof v);
    }
    for (; f < frames; ++f) {
        Lane x;
        std::memcpy(&x, in + f * sizeof(Lane), sizeof x);
        x = SelectHalf<Lane, HalfBits, TakeLow>(x);
        std::memcpy(out + f * sizeof(Lane), &x, sizeof x);
    }
}

template <class Lane, int HalfBits, bool TakeLow>
void SelectFramesBaseline(uint8_t* out, const uint8_t* in, size_t frames) {
    SelectFramesImpl<Lane, HalfBits, TakeLow, 16>(out, in, frames);
}

#if defined(__x86_64__) || defined(__i386__)
template <class Lane, int HalfBits, bool TakeLow>
__attribute__((target("avx2"))) void SelectFramesAvx2(uint8_t* out, const uint8_t* in, size_t frames) {
    SelectFramesImpl<Lane, HalfBits, TakeLow, 32>(out, in, frames);
}
template <class Lane, int HalfBits, bool TakeLow>
__attribute__((target("avx512bw"))) void SelectFramesAvx512(uint8_t* out, const uint8_t* in, size_t frames) {
    SelectFramesImpl<Lane, HalfBits, TakeLow, 64>(out, in, frames);
}

// The widest vectors the processor has: 2 for 64 bytes, 1 for 32 bytes, 0 for the 16-byte baseline.
// Worked out while the module loads, possibly before the compiler's own processor probe has run.
const int kVectorLevel = [] {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512bw")) return 2;
    if (__builtin_cpu_supports("avx2")) return 1;
    return 0;
}();
#endif

template <class Lane, int HalfBits, bool TakeLow>
void SelectFrames(uint8_t* out, const uint8_t* in, size_t frames) {
#if defined(__x86_64__) || defined(__i386__)
    if (kVectorLevel == 2) {
        SelectFramesAvx512<Lane, HalfBits, TakeLow>(out, in, frames);
        return;
    }
    if (kVectorLevel == 1) {
        SelectFramesAvx2<Lane, HalfBits, TakeLow>(out, in, frames);
        return;
    }
#endif
    SelectFramesBaseline<Lane, HalfBits, TakeLow>(out, in, frames);
}

}  // namespace

void SelectChannel8(uint8_t* out, const uint8_t* in, size_t frames, ChannelSelect channel) {
    if (channel == ChannelBoth) {
        if (out != in) std::memmove(out, in, frames * 2);
        return;
    }
    if ((channel == ChannelLeft) == kFirstIsLow) {
        SelectFrames<uint16_t, 8, true>(out, in, frames);
    } else {
        SelectFrames<uint16_t, 8, false>(out, in, frames);
    }
}

void SelectChannel16(uint8_t* out, const uint8_t* in, size_t frames, ChannelSelect channel) {
    if (channel == ChannelBoth) {
        if (out != in) std::memmove(out, in, frames * 4);
        return;
    }
    if ((channel == ChannelLeft) == kFirstIsLow) {
        SelectFrames<uint32_t, 16, true>(out, in, frames);
    } else {
        SelectFrames<uint32_t, 16, false>(out, in, frames);
    }
}

}  // namespace sinjoplugin
