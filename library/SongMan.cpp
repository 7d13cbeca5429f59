#include "library/SongMan.h"

#include "app/Globals.h"
#include "app/Settings.h"
#include "library/CatalogueMemory.h"

namespace {

// ASCII-only case-insensitive equality: property names are ASCII, and other letters must not fold
// differently by locale.
bool EqualsAsciiNoCase(const std::wstring& a, const wchar_t* b) {
    size_t i = 0;
    for (; i < a.size() && b[i] != L'\0'; ++i) {
        wchar_t x = a[i];
        wchar_t y = b[i];
        if (x >= L'A' && x <= L'Z') x = static_cast<wchar_t>(x - L'A' + L'a');
        if (y >= L'A' && y <= L'Z') y = static_cast<wchar_t>(y - L'A' + L'a');
        if (x != y) return false;
    }
    return i == a.size() && b[i] == L'\0';
}

std::wstring AsciiLower(std::wstring text) {
    for (wchar_t& c : text) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return text;
}

}  // namespace

SongMan::SongMan() : nutl::FileEnumerater<std::wstring>(), artist_query_cache(1), song_query_cache(1) {
    catalogue_memory::KeepFreedMemoryForReloads();
    // The audio source table lives in Records.h, so the start-up choice needs no other part linked in.
    const std::wstring name = g_settings ? g_settings->Get(L"pref:AudioSource", L"karaoke") : L"karaoke";
    audio_source = 0;
    for (int32_t i = 0; i < kAudioSourceCount; ++i) {
        if (name == kAudioSourceNames[i]) {
            audio_source = i;
            break;
        }
    }
}

SongMan::~SongMan() {
    // Plain pointers first, then the owners (which the member destructors empty).
    std::lock_guard<std::recursive_mutex> guard(lock);
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
        *value = AsciiLower(song->ext);
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
