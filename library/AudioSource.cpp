#include "library/AudioSource.h"

#include "library/Records.h"

namespace {

// Rows: audio source code. Columns: stereo_karaoke, left_karaoke, right_karaoke, unknown/other.
constexpr ChannelSelect kChannelTable[kAudioSourceCount][4] = {
    /* karaoke  */ {ChannelBoth, ChannelLeft, ChannelRight, ChannelLeft},
    /* original */ {ChannelBoth, ChannelRight, ChannelLeft, ChannelRight},
    /* left     */ {ChannelLeft, ChannelLeft, ChannelLeft, ChannelLeft},
    /* right    */ {ChannelRight, ChannelRight, ChannelRight, ChannelRight},
    /* stereo   */ {ChannelBoth, ChannelBoth, ChannelBoth, ChannelBoth},
};

}  // namespace

ChannelSelect ChooseChannel(int32_t audioSource, int32_t audioType) {
    if (audioSource < 0 || audioSource >= kAudioSourceCount) {
        return ChannelBoth;
    }
    int column = 3;
    switch (audioType) {
    case stereo_karaoke: column = 0; break;
    case left_karaoke: column = 1; break;
    case right_karaoke: column = 2; break;
    default: column = 3; break;
    }
    return kChannelTable[audioSource][column];
}
