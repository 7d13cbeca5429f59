// The sample work of the plug-in: playing one channel of interleaved stereo PCM on both channels.
// Pure functions on caller-owned memory; any thread. `out` may equal `in` (in-place), but the two
// ranges must not otherwise overlap.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/ChannelHandoff.h"

namespace sinjoplugin {

// The channel selection published by the jukebox, and what a stored value stands for.
using ::ChannelBoth;
using ::ChannelLeft;
using ::ChannelRight;
using ::ChannelSelect;
using ::ChannelSelectFromValue;

// 8-bit stereo: `frames` frames of 2 bytes. Frame f's selected byte (in[2f] for left, in[2f+1] for
// right) goes to out[2f] and out[2f+1].
void SelectChannel8(uint8_t* out, const uint8_t* in, size_t frames, ChannelSelect channel);
// 16-bit stereo: `frames` frames of two 16-bit samples. The selected sample of each frame (the first
// for left, the second for right) is written to both samples of the output frame, bit for bit.
// With ChannelBoth either function copies the frames unchanged.
void SelectChannel16(uint8_t* out, const uint8_t* in, size_t frames, ChannelSelect channel);

}  // namespace sinjoplugin
