// The one thing the jukebox program and the channel plug-in share: the channel the plug-in plays, published
// by the program as a REG_DWORD under HKEY_CURRENT_USER and polled by the plug-in while audio flows.
//
// Both deliverables include this header; it holds names only, so the plug-in still links nothing of the
// program. The program writes the value whenever a song starts and whenever the audio source changes; the
// plug-in reads it at most every 100 ms. Nobody owns or deletes it; it persists per user.
#pragma once

#include <cstdint>

// The channel selection, the value stored.
enum ChannelSelect : uint32_t {
    ChannelBoth = 0,   // samples pass unchanged
    ChannelLeft = 1,   // the left channel on both outputs
    ChannelRight = 2,  // the right channel on both outputs
};

// Where it is stored (HKEY_CURRENT_USER) and under which value name.
inline constexpr const wchar_t* kChannelHandoffKey = L"Software\\Nadusoft\\Sinjo\\Plugin";
inline constexpr const wchar_t* kChannelHandoffValue = L"AudioSource";

// How often, at most, the plug-in re-reads the value while audio flows.
inline constexpr uint32_t kChannelHandoffPollMs = 100;

// The selection a stored value stands for: 1 left, 2 right, anything else both.
constexpr ChannelSelect ChannelSelectFromValue(uint32_t value) {
    return value == ChannelLeft ? ChannelLeft : value == ChannelRight ? ChannelRight : ChannelBoth;
}
