// The audio source hand-off: turning the user's audio source and the current song's audio type into
// the channel selection the audio plug-in plays.
//
// The source names and display names are the tables of library/Records.h (kAudioSourceNames,
// kAudioSourceDisplayNames). SongMan keeps the chosen code (audio_source) and publishes the channel where
// the plug-in polls it (protocol/ChannelHandoff.h); those SongMan methods live in SongManAudio.cpp.
//
// Everything declared here is constant data or a pure function; callable from any thread.
#pragma once

#include <cstdint>

#include "protocol/ChannelHandoff.h"

// Audio source codes (SongMan::audio_source), indexes into kAudioSourceNames.
constexpr int32_t kAudioSourceKaraoke = 0;
constexpr int32_t kAudioSourceOriginal = 1;
constexpr int32_t kAudioSourceLeft = 2;
constexpr int32_t kAudioSourceRight = 3;
constexpr int32_t kAudioSourceStereo = 4;

// The channel for an audio source and a song's audio type (0 unknown, 1 stereo_karaoke,
// 2 left_karaoke, 3 right_karaoke; any other type counts as unknown). A source outside 0..4 gives
// ChannelBoth. An unknown-type song is played like a left_karaoke one.
ChannelSelect ChooseChannel(int32_t audioSource, int32_t audioType);
