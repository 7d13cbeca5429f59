#include "player/AudioSource.h"

#include "app/Globals.h"
#include "app/Settings.h"
#include "library/Records.h"
#include "library/SongMan.h"
#include "platform/Dialogs.h"
#include "platform/Registry.h"

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

int32_t SongMan::ParseAudioSource(const std::wstring& name) {
    for (int32_t code = 0; code < kAudioSourceCount; ++code) {
        if (name == kAudioSourceNames[code]) {
            return code;
        }
    }
    return 0;
}

void SongMan::SetAudioSource(const std::wstring& name) {
    {
        std::lock_guard<std::recursive_mutex> guard(lock);
        audio_source = ParseAudioSource(name);
    }
    // Kept as given, even an unknown name: it parses to "karaoke" again at the next start.
    if (g_settings != nullptr) {
        g_settings->Set(L"pref:AudioSource", name);
    }
    PublishAudioSource();
}

std::wstring SongMan::AudioSourceName() const {
    return CodeName(kAudioSourceNames, audio_source);
}

std::wstring SongMan::AudioSourceDisplayName() const {
    return CodeName(kAudioSourceDisplayNames, audio_source);
}

void SongMan::PublishAudioSource() {
    ChannelSelect channel = ChannelBoth;
    {
        std::lock_guard<std::recursive_mutex> guard(lock);
        if (current_song == nullptr) {
            return;
        }
        channel = ChooseChannel(audio_source, current_song->audio_type);
    }
    // The registry write and any message box happen without the catalogue lock: a message box runs
    // a nested loop, and no web worker may be kept waiting behind it.
    if (platform::RegCreateKey(platform::RegRoot::CurrentUser, kAudioSourceRegistryKey) != platform::ERROR_SUCCESS) {
        platform::MessageBox(nullptr, L"Failed to create registry key", L"Sinjo",
                             platform::MB_OK | platform::MB_ICONEXCLAMATION);
        return;
    }
    if (platform::RegSetDword(platform::RegRoot::CurrentUser, kAudioSourceRegistryKey, kAudioSourceRegistryValue,
                              channel) != platform::ERROR_SUCCESS) {
        platform::MessageBox(nullptr, L"Failed to set registry value", L"Sinjo",
                             platform::MB_OK | platform::MB_ICONEXCLAMATION);
    }
}
