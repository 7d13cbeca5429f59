// The audio source of SongMan: the user's choice of channel, kept in audio_source and in
// "pref:AudioSource", and its hand-off to the channel plug-in for the song that plays.
//
// GUI thread. The catalogue lock guards audio_source and current_song; it is never held while the
// registry is written or a message box shows (a message box runs a nested loop, and no web worker may be
// kept waiting behind it).
#include <mutex>

#include "core/Globals.h"
#include "core/Settings.h"
#include "library/AudioSource.h"
#include "library/Records.h"
#include "library/SongMan.h"
#include "platform/Dialogs.h"
#include "platform/Registry.h"
#include "protocol/ChannelHandoff.h"
#include "protocol/SettingKeys.h"

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
        platform::RecursiveMutexLock guard(lock);
        audio_source = ParseAudioSource(name);
    }
    // Kept as given, even an unknown name: it parses to "karaoke" again at the next start.
    if (g_settings != nullptr) {
        g_settings->Set(setting_keys::kAudioSource, name);
    }
    PublishAudioSource();
}

std::wstring SongMan::AudioSourceName() const {
    platform::RecursiveMutexLock guard(lock);
    return CodeName(kAudioSourceNames, audio_source);
}

std::wstring SongMan::AudioSourceDisplayName() const {
    platform::RecursiveMutexLock guard(lock);
    return CodeName(kAudioSourceDisplayNames, audio_source);
}

void SongMan::PublishAudioSource() {
    ChannelSelect channel = ChannelBoth;
    {
        platform::RecursiveMutexLock guard(lock);
        if (current_song == nullptr) {
            return;
        }
        channel = ChooseChannel(audio_source, current_song->audio_type);
    }
    // The registry write and any message box happen without the catalogue lock: a message box runs
    // a nested loop, and no web worker may be kept waiting behind it.
    if (platform::RegCreateKey(platform::RegRoot::CurrentUser, kChannelHandoffKey) != platform::ERROR_SUCCESS) {
        platform::MessageBox(nullptr, L"Failed to create registry key", L"Sinjo",
                             platform::MB_OK | platform::MB_ICONEXCLAMATION);
        return;
    }
    if (platform::RegSetDword(platform::RegRoot::CurrentUser, kChannelHandoffKey, kChannelHandoffValue,
                              channel) != platform::ERROR_SUCCESS) {
        platform::MessageBox(nullptr, L"Failed to set registry value", L"Sinjo",
                             platform::MB_OK | platform::MB_ICONEXCLAMATION);
    }
}
