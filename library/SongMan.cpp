#include "library/SongMan.h"

#include "core/Globals.h"
#include "core/Settings.h"
#include "core/Text.h"
#include "library/CatalogueMemory.h"
#include "protocol/SettingKeys.h"

SongMan::SongMan() : nutl::FileEnumerater<std::wstring>(), artist_query_cache(1), song_query_cache(1) {
    catalogue_memory::KeepFreedMemoryForReloads();
    const std::wstring name = g_settings ? g_settings->Get(setting_keys::kAudioSource, setting_keys::kDefaultAudioSource)
                                         : std::wstring(setting_keys::kDefaultAudioSource);
    audio_source = ParseAudioSource(name);
}

SongMan::~SongMan() {
    // Plain pointers first, then the owners (which the member destructors empty).
    platform::RecursiveMutexLock guard(lock);
    queue.clear();
    current_song = nullptr;
    song_query_cache.Clear();
    artist_query_cache.Clear();
    sorted_song_lists.clear();
}

int32_t SongMan::GetAlbumCount() const { return static_cast<int32_t>(albums.size()); }

Album* SongMan::GetAlbum(int32_t index) const {
    if (index < 0 || static_cast<size_t>(index) >= albums.size()) return nullptr;
    return albums[index];
}

SongMan::PropertyResult SongMan::GetSongProperty(const Song* song, const std::wstring& prop,
                                                 std::wstring* value) {
    if (song == nullptr) return PropertyResult::no_record;
    if (EqualsAsciiNoCase(prop, L"name")) {
        *value = song->name;
    } else if (EqualsAsciiNoCase(prop, L"artist")) {
        *value = song->artist;
    } else if (EqualsAsciiNoCase(prop, L"album")) {
        *value = song->album_ref ? song->album_ref->name : std::wstring();
    } else if (EqualsAsciiNoCase(prop, L"audio_type")) {
        *value = AudioTypeName(song->audio_type);
    } else if (EqualsAsciiNoCase(prop, L"ext")) {
        *value = AsciiLowerCopy(song->ext);
    } else if (EqualsAsciiNoCase(prop, L"id")) {
        *value = std::to_wstring(song->id);
    } else {
        return PropertyResult::unknown_name;
    }
    return PropertyResult::ok;
}

SongMan::PropertyResult SongMan::GetAlbumProperty(const Album* album, const std::wstring& prop,
                                                  std::wstring* value) {
    if (album == nullptr) return PropertyResult::no_record;
    if (EqualsAsciiNoCase(prop, L"name")) {
        *value = album->name;
    } else if (EqualsAsciiNoCase(prop, L"artist")) {
        *value = album->artist;
    } else if (EqualsAsciiNoCase(prop, L"dir")) {
        *value = album->dir;
    } else if (EqualsAsciiNoCase(prop, L"song_count")) {
        *value = std::to_wstring(album->song_count);
    } else {
        return PropertyResult::unknown_name;
    }
    return PropertyResult::ok;
}
