#include "library/SongMan.h"

#include "core/Globals.h"
#include "core/Settings.h"
#include "core/Text.h"
#include "library/CatalogueMemory.h"
#include "platform/Thread.h"
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
    AdoptSearchIndex(true);  // the index builder reads the records
    queue.clear();
    current_song = nullptr;
    song_query_cache.Clear();
    artist_query_cache.Clear();
    sorted_song_lists.clear();
}

void SongMan::StartSearchIndex() {
    auto columns = std::make_shared<PinyinColumns>(std::move(pinyin_columns));
    pinyin_columns.Clear();
    index_builder = platform::StartHelperThread("sinjo-index", [this, columns]() mutable {
        // What the replaced catalogue's index and the loader freed goes back first, so that the new index
        // and its working tables do not come on top of it.
        catalogue_memory::ReturnFreeMemory();
        columns->Seal();
        auto index = std::make_unique<SearchIndex>();
        index->Build(*this, *columns);
        columns.reset();  // the last owner: the columns go now, before the heap is trimmed
        // The builder's working tables are gone: hand their memory, and what the loader freed, back.
        catalogue_memory::ReturnFreeMemory();
        platform::MutexLock done(index_mutex);
        built_index = std::move(index);
    });
}

bool SongMan::AdoptSearchIndex(bool wait) {
    if (index_builder.joinable()) {
        bool done;
        {
            platform::MutexLock check(index_mutex);
            done = built_index != nullptr;
        }
        if (!done && !wait) return false;
        index_builder.join();
        std::unique_ptr<SearchIndex> index;
        {
            platform::MutexLock take(index_mutex);
            index = std::move(built_index);
        }
        // A song list the scan sorted before the index came is already in the index's order: every
        // order ends in the song id, so there are no equal keys to come out otherwise.
        if (index) search_index = std::move(*index);
    }
    return search_index.Covers(songs.size());
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
