#include "plugin/ChannelProcessor.h"

#include <bit>
#include <cstring>

namespace sinjoplugin {
namespace {

// Whole frames are handled as lanes of a vector: a 16-bit stereo frame is one 32-bit lane, an 8-bit
// stereo frame one 16-bit lane. The compiler turns the lane operations into SIMD instructions, which
// keeps the plug-in's cost close to a plain copy.
using Lanes32 = uint32_t __attribute__((vector_size(32)));
using Lanes16 = uint16_t __attribute__((vector_size(32)));

// In memory order the first sample of a frame is the low half of the lane on a little-endian machine
// and the high half on a big-endian one.
constexpr bool kFirstIsLow = std::endian::native == std::endian::little;

template <class Lane, int HalfBits>
inline Lane CopyLowHalf(Lane x) {
    const Lane lowMask = static_cast<Lane>((1u << HalfBits) - 1u);
    return static_cast<Lane>((x & lowMask) | static_cast<Lane>(x << HalfBits));
}
template <class Lane, int HalfBits>
inline Lane CopyHighHalf(Lane x) {
    const Lane highMask = static_cast<Lane>(((1u << HalfBits) - 1u) << HalfBits);
    return static_cast<Lane>((x & highMask) | static_cast<Lane>(x >> HalfBits));
}

template <class Vec, class Lane, int HalfBits, bool TakeLow>
void SelectFrames(uint8_t* out, const uint8_t* in, size_t frames) {
    constexpr size_t kFramesPerVec = sizeof(Vec) / sizeof(Lane);
    size_t f = 0;
    for (; f + kFramesPerVec <= frames; f += kFramesPerVec) {
        Vec v;
        std::memcpy(&v, in + f * sizeof(Lane), sizeof v);
        if constexpr (TakeLow) {
            v = (v & static_cast<Lane>((1u << HalfBits) - 1u)) | (v << HalfBits);
        } else {
            v = (v & static_cast<Lane>(((1u << HalfBits) - 1u) << HalfBits)) | (v >> HalfBits);
        }
        std::memcpy(out + f * sizeof(Lane), &v, sizeof v);
    }
    for (; f < frames; ++f) {
        Lane x;
        std::memcpy(&x, in + f * sizeof(Lane), sizeof x);
        x = TakeLow ? CopyLowHalf<Lane, HalfBits>(x) : CopyHighHalf<Lane, HalfBits>(x);
        std::memcpy(out + f * sizeof(Lane), &x, sizeof x);
    }
}

}  // namespace

ChannelSelect ChannelSelectFromValue(uint32_t value) {
    if (value == ChannelLeft) return ChannelLeft;
    if (value == ChannelRight) return ChannelRight;
    return ChannelBoth;
}

void SelectChannel8(uint8_t* out, const uint8_t* in, size_t frames, ChannelSelect channel) {
    if (channel == ChannelBoth) {
        if (out != in) std::memmove(out, in, frames * 2);
        return;
    }
    if ((channel == ChannelLeft) == kFirstIsLow) {
        SelectFrames<Lanes16, uint16_t, 8, true>(out, in, frames);
    } else {
        SelectFrames<Lanes16, uint16_t, 8, false>(out, in, frames);
    }
}

void SelectChannel16(uint8_t* out, const uint8_t* in, size_t frames, ChannelSelect channel) {
    if (channel == ChannelBoth) {
        if (out != in) std::memmove(out, in, frames * 4);
        return;
    }
    if ((channel == ChannelLeft) == kFirstIsLow) {
        SelectFrames<Lanes32, uint32_t, 16, true>(out, in, frames);
    } else {
        SelectFrames<Lanes32, uint32_t, 16, false>(out, in, frames);
    }
}

}  // namespace sinjoplugin
