// Catalogue loading: Reload, the artist index and the song index; then the user folders
// (UserFolderScan.cpp). All of it runs inside Reload, under SongMan::lock, on the GUI thread, with two
// helper threads: one reads and converts the song index's lines and touches no catalogue data; the other
// fills the two artist maps while the songs load (see LoadIndex).
//
// The pieces: IndexFile.h reads an index file's lines, IndexFields.h splits them into fields,
// FieldBatch.h converts the text fields of many lines at once, SongIndexReader.h reads the song index on
// its own thread.
//
// How loading stays fast (bench/reload_bench: 100,000 songs and 10,000 artists):
//   - The song index is read on a second thread (SongIndexReader.h), started before the artist index is
//     loaded: it reads, splits and converts the lines a chunk at a time while this thread loads the
//     artists and then makes the song records of the chunks, in line order.
//   - Lines are split on their bytes, and only the columns that become text (artist name; song title and
//     path) are converted, many lines' columns per converter call; lines with too few fields are never
//     converted. This gives exactly what converting each line whole and splitting it would (IndexFields.h).
//   - The artists go into artists_by_name and artists_by_id on a helper thread while the songs load (the
//     song loader finds artists in a flat table made from the artist records), and into each map in one
//     ordered pass rather than one search of a scattered tree per artist.
//   - Song records are small (RecordText.h) and come from a pool of equal slots (Records.h).
//   - A Reload over a full catalogue refills the old song records instead of freeing and allocating them
//     again (SongMan::reusable_songs): no allocator work for unchanged strings. Off under AddressSanitizer
//     (platform/Sanitizer.h).
//   - The allocator keeps the memory that a catalogue frees for the next one (CatalogueMemory.h), so a
//     reload does not pay a page fault for every 4 KiB it touches.
//
// Choices made where the index format leaves room:
//   - An artist line with fewer than five fields, or a song line with fewer than fourteen (counted the
//     way the format counts them), is not a valid record and is skipped, like a line whose artist id is
//     not a number of at least 1.
//   - The line feed that ends a line stays part of the last field while fields are counted (so the
//     counts above follow the format), but it is never taken into a text value: a song index whose path
//     is the last column would otherwise give paths ending in a line feed that name no file.
//   - Numbers that overflow 32 bits saturate at the largest or smallest value.
//   - Reload clears current_song together with the queue: the records it pointed into are deleted.
//   - Pruning removes an artist from the two maps only where the map entry is that artist. When two index
//     lines share a name or an id, the map holds the later artist, which may have songs and must stay
//     reachable.
//   - Reload empties the containers but keeps max_artist_id, so an artist made for a scanned file after a
//     reload may get a higher id than before; ids are only meaningful until the next reload anyway.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "core/Globals.h"
#include "core/Settings.h"
#include "library/CatalogueMemory.h"
#include "library/FieldBatch.h"
#include "library/IndexFields.h"
#include "library/IndexFile.h"
#include "library/LoaderText.h"
#include "library/SongIndexReader.h"
#include "library/SongMan.h"
#include "platform/FileSystem.h"
#include "platform/Sanitizer.h"
#include "platform/Thread.h"
#include "protocol/SettingKeys.h"

using index_loading::FieldBatch;
using index_loading::FieldText;
using index_loading::ForEachLine;
using index_loading::IndexFile;
using index_loading::kArtistFields;
using index_loading::SetExtension;
using index_loading::SongChunk;
using index_loading::SongChunkPipe;
using index_loading::SplitFields;

namespace {

// Sort key of a text converted from `bytes`: the bytes themselves when the converter replaced nothing
// (no "?" in the text; a clean conversion turns back into the same bytes), else the text converted back.
void SetSortKey(std::string* key, std::wstring_view text, std::string_view bytes) {
    if (text.find(L'?') == std::wstring_view::npos) {
        key->assign(bytes);
    } else {
        *key = TextKey(text);
    }
}

// The song loader's view of the artists by id: a table indexed by id when the ids are dense enough, else
// a sorted array searched by halves. Each entry keeps what a song takes from its artist (the record and a
// copy of its name) and counts the songs that took it, so that making a song touches only its entry
// instead of the artist's record and name buffer, which lie scattered over megabytes: the songs share
// the name uncounted (RecordText::ShareUncounted), and Settle adds each artist's songs to its song_count
// and to its name's count in one pass. The destructor settles too, so the counts are right however
// loading ends.
class ArtistIdIndex final {
public:
    struct Entry {
        Artist* artist = nullptr;
        RecordText name;      // the artist's name, shared
        uint32_t songs = 0;   // songs made since the last Settle that share `name` uncounted
    };

    explicit ArtistIdIndex(const std::map<int32_t, Artist*>& byId)
        : ArtistIdIndex(std::vector<std::pair<int32_t, Artist*>>(byId.begin(), byId.end())) {}

    // From artists in line order: of those sharing an id, the later one is found, as in artists_by_id.
    explicit ArtistIdIndex(const std::vector<Artist*>& inLineOrder) : ArtistIdIndex(Pairs(inLineOrder)) {}

    ArtistIdIndex(const ArtistIdIndex&) = delete;
    ArtistIdIndex& operator=(const ArtistIdIndex&) = delete;
    ~ArtistIdIndex() { Settle(); }

    // Asks the processor for where Find(id) will look, when that is one place (the table).
    void Prefetch(int32_t id) const {
        if (!m_table.empty() && id >= 0 && static_cast<size_t>(id) < m_table.size()) {
            __builtin_prefetch(&m_table[static_cast<size_t>(id)], 1);
        }
    }

    Entry* Find(int32_t id) {
        if (!m_table.empty()) {
            if (id < 0 || static_cast<size_t>(id) >= m_table.size()) return nullptr;
            Entry& e = m_table[static_cast<size_t>(id)];
            return e.artist != nullptr ? &e : nullptr;
        }
        auto it = std::lower_bound(m_sorted.begin(), m_sorted.end(), id,
                                   [](const std::pair<int32_t, Entry>& e, int32_t key) { return e.first < key; });
        return it != m_sorted.end() && it->first == id ? &it->second : nullptr;
    }

    // Adds the songs counted in each entry to its artist's song_count and to its name's count.
    void Settle() noexcept {
        auto settle = [](Entry& e) {
            if (e.songs == 0) return;
            e.artist->song_count += static_cast<int32_t>(e.songs);
            e.name.AddShares(e.songs);
            e.songs = 0;
        };
        for (Entry& e : m_table) settle(e);
        for (auto& [id, e] : m_sorted) settle(e);
    }

private:
    static std::vector<std::pair<int32_t, Artist*>> Pairs(const std::vector<Artist*>& artists) {
        std::vector<std::pair<int32_t, Artist*>> pairs;
        pairs.reserve(artists.size());
        for (Artist* a : artists) pairs.emplace_back(a->id, a);
        return pairs;
    }

    static Entry EntryOf(Artist* artist) { return Entry{artist, artist->name, 0}; }

    // `pairs`: in line order, or in id order with distinct ids.
    explicit ArtistIdIndex(std::vector<std::pair<int32_t, Artist*>> pairs) {
        if (pairs.empty()) return;
        int64_t low = pairs[0].first, high = pairs[0].first;
        for (const auto& [id, artist] : pairs) {
            low = std::min<int64_t>(low, id);
            high = std::max<int64_t>(high, id);
        }
        if (low >= 0 && high < static_cast<int64_t>(pairs.size()) * 8 + 4096) {
            m_table.resize(static_cast<size_t>(high) + 1);
            for (const auto& [id, artist] : pairs) m_table[static_cast<size_t>(id)] = EntryOf(artist);  // the later wins
            return;
        }
        std::stable_sort(pairs.begin(), pairs.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        // Of a run of equal ids keep the last, the later line.
        for (size_t i = 0; i < pairs.size(); ++i) {
            if (i + 1 < pairs.size() && pairs[i + 1].first == pairs[i].first) continue;
            m_sorted.emplace_back(pairs[i].first, EntryOf(pairs[i].second));
        }
    }

    std::vector<Entry> m_table;
    std::vector<std::pair<int32_t, Entry>> m_sorted;
};

// Whether Reload refills the old catalogue's song records instead of deleting them (see
// SongMan::reusable_songs). Off under AddressSanitizer, which can only report a song pointer kept across a
// Reload when the record behind it has been freed.
constexpr bool kReuseSongRecords = !platform::kAddressSanitizer;

// Asks the processor early for the memory that refilling reused song records will touch: the record
// `2 * distance` songs ahead of the loader, and the string buffers of the one `distance` ahead (whose record
// was asked for `distance` songs ago). The records of a catalogue lie scattered over tens of megabytes, so
// without this every record and string waits on main memory in turn.
void PrefetchReusableSongs(const SongMan& man, size_t distance) {
    const autoreleaselist<Song>& list = man.reusable_songs;
    const size_t far = man.reusable_songs_next + 2 * distance;
    if (far < list.size()) {
        const char* record = reinterpret_cast<const char*>(list[far]);
        for (size_t offset = 0; offset < sizeof(Song); offset += 64) __builtin_prefetch(record + offset, 1);
    }
    const size_t near = man.reusable_songs_next + distance;
    if (near < list.size()) {
        const Song* song = list[near];
        __builtin_prefetch(song->artist.data(), 1);
        __builtin_prefetch(song->name.data(), 1);
        __builtin_prefetch(song->path.bytes().data(), 1);
    }
}

// How many songs ahead the loader asks for the memory of the artist a song names.
constexpr size_t kArtistLookahead = 8;

}  // namespace

// ---- Reload ---------------------------------------------------------------------------------------------

bool SongMan::Reload() {
    platform::RecursiveMutexLock guard(lock);
    ++generation;
    // The index of the catalogue being replaced may still be in the making: it reads the records.
    AdoptSearchIndex(true);

    // Plain pointers into the records go first, then the owners. The player is not told: what it plays
    // goes on playing, but current_song must not outlive the song it names.
    queue.clear();
    current_song = nullptr;
    song_query_cache.Clear();
    artist_query_cache.Clear();
    artist_query_cache.capacity = 100;
    sorted_song_lists.clear();
    sorted_song_lists.resize(4, nullptr);
    search_text.clear();
    search_offsets.clear();
    search_index.Clear();
    pinyin_columns.Clear();
    albums_by_name.clear();
    artists_by_name.clear();
    artists_by_id.clear();
    if (kReuseSongRecords) {
        // The old songs wait in reusable_songs for NewSong; `songs` takes over the other list's buffer.
        reusable_songs.clear();
        songs.swap(reusable_songs);
        reusable_songs_next = 0;
    }
    songs.clear();
    albums.clear();
    artists.clear();

    const std::wstring dir = g_settings ? g_settings->GetMtvIndexDir() : std::wstring();
    // A catalogue takes about six times the size of its index files in memory; asking for it at once lets
    // a first load fault it in by huge pages where the system offers them (CatalogueMemory.h).
    uint64_t indexBytes = 0;
    for (const wchar_t* name : {L"\\singer.csv", L"\\Songs.csv"}) {
        platform::FileInfo info;
        if (platform::GetFileInfo(dir + name, &info)) indexBytes += info.size;
    }
    // Only a catalogue larger than any before in this process needs it: the allocator keeps what earlier
    // catalogues used, and looking at the heap costs time when it is fragmented.
    static std::atomic<uint64_t> reservedFor{0};
    if (indexBytes >= (1u << 20) && indexBytes > reservedFor.load()) {
        catalogue_memory::ReserveHeap(static_cast<size_t>(std::min<uint64_t>(indexBytes * 6, 1u << 30)));
        reservedFor.store(indexBytes);
    }
    const bool loaded = LoadIndex(dir);
    // The searches and the song orders read the index, made from here on by a helper thread.
    StartSearchIndex();

    // Songs of the old catalogue that the new one did not need. Taken slots are null, so once these are
    // deleted the list can drop its pointers, and its buffer, without deleting anything: at a million
    // songs the buffer is eight megabytes that would sit idle until the next Reload.
    for (size_t i = reusable_songs_next; i < reusable_songs.size(); ++i) {
        delete reusable_songs[i];
        reusable_songs[i] = nullptr;
    }
    std::vector<Song*>().swap(static_cast<std::vector<Song*>&>(reusable_songs));
    reusable_songs_next = 0;
    return loaded;
}

Song* SongMan::NewSong() {
    if (reusable_songs_next < reusable_songs.size()) {
        Song* song = reusable_songs[reusable_songs_next];
        reusable_songs[reusable_songs_next++] = nullptr;
        // Blank, as a new record is, but each text keeps a buffer it holds alone: the loader's assignments
        // refill those in place, so a reload of a similar catalogue seldom allocates.
        song->artist_ref = nullptr;
        song->album_ref = nullptr;
        song->id = 0;
        song->audio_type = 0;
        song->artist.Blank();
        song->name.Blank();
        song->path.Blank();
        song->full_path.Blank();
        song->ext.Blank();
        return song;
    }
    return new Song;
}

bool SongMan::LoadIndex(const std::wstring& dir) {
    // The song index starts being read and converted before the artists load, so both go on at once.
    auto songIndex = std::make_unique<SongIndexReading>();
    const bool songIndexOpen = songIndex->Start(dir + L"\\Songs.csv");
    std::vector<Artist*> made;
    if (!LoadArtistRecords(dir + L"\\singer.csv", &made)) return false;
    // The artists go into their two maps on a helper thread while the songs load: the song loader finds
    // artists by id in a table of its own, and neither side writes what the other reads (the maps and
    // the artists' ids and names there; the artists' song counts and the catalogue here). Joined before
    // anything else uses the maps, also when loading the songs fails.
    struct Joiner {
        std::thread thread;
        ~Joiner() {
            if (thread.joinable()) thread.join();
        }
    } enter;
    try {
        enter.thread = platform::StartHelperThread("sinjo-artists", [this, &made] { EnterArtists(made); });
    } catch (const std::system_error&) {
        EnterArtists(made);  // no thread to be had: here, first
    }
    const bool songsLoaded = LoadVodMtvIndex(dir + L"\\Songs.csv", songIndexOpen ? songIndex.get() : nullptr, &made);
    if (enter.thread.joinable()) enter.thread.join();
    if (!songsLoaded) return false;
    LoadUserMtvIndex();
    PruneArtists();
    // The song list was reserved from the index file's size; with a quarter or more left unused it gives
    // that back (lines longer than the guess; at a million songs, megabytes).
    if (songs.capacity() - songs.size() > songs.size() / 4) songs.shrink_to_fit();

    // Albums by dir in catalogue text order. A stable sort keeps albums with equal dir in creation order.
    std::vector<std::pair<std::string, Album*>> keyed;
    keyed.reserve(albums.size());
    for (Album* album : albums) {
        keyed.emplace_back(album->dir == album->name ? album->sort_key : TextKey(album->dir), album);
    }
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return TextKeyLess(a.first, b.first); });
    for (size_t i = 0; i < keyed.size(); ++i) albums[i] = keyed[i].second;  // a permutation: no deletes
    return true;
}

// ---- the artist index -----------------------------------------------------------------------------------

bool SongMan::LoadArtists(const std::wstring& file) {
    std::vector<Artist*> made;
    if (!LoadArtistRecords(file, &made)) return false;
    EnterArtists(made);
    return true;
}

bool SongMan::LoadArtistRecords(const std::wstring& file, std::vector<Artist*>* made) {
    PerfTimer timer(g_settings, setting_keys::kLoadArtists);
    IndexFile index;
    if (!index.Open(file)) return false;

    // Lines are checked as they are read; the names of a batch of valid lines are converted together, and
    // their artists are then made in line order (so a later line still wins a shared name or id).
    struct Pending {
        int32_t id;
        int32_t category;
        int32_t region;
        uint32_t column_end;  // end of the line's pinyin column (field 2) in `columns`
    };
    std::vector<Pending> pending;
    std::string columns;
    FieldBatch names(256, 1000);
    auto flush = [&] {
        if (pending.empty()) return;
        names.Convert();
        for (size_t k = 0; k < pending.size(); ++k) {
            const std::wstring_view name = names.Text(k);
            auto* artist = new Artist;
            artist->id = pending[k].id;
            artist->category = pending[k].category;
            artist->region = pending[k].region;
            artist->name.assign(name);
            SetSortKey(&artist->sort_key, name, names.Bytes(k));
            if (artist->id > max_artist_id) max_artist_id = artist->id;
            artists.push_back(artist);
            made->push_back(artist);
            const uint32_t columnBegin = k == 0 ? 0 : pending[k - 1].column_end;
            pinyin_columns.SetArtist(artist, std::string_view(columns).substr(columnBegin, pending[k].column_end - columnBegin));
        }
        pending.clear();
        columns.clear();
        names.Clear();
    };

    std::string_view fields[kArtistFields];
    ForEachLine(index, [&](std::string_view line) {
        if (SplitFields(line, fields, kArtistFields) < kArtistFields) return;
        const int32_t id = ParseLeadingInt(fields[0]);
        if (id < 1) return;
        columns.append(FieldText(fields[2]));
        pending.push_back({id, ParseLeadingInt(fields[3]), ParseLeadingInt(fields[4]),
                           static_cast<uint32_t>(columns.size())});
        names.Add(FieldText(fields[1]));
        if (names.Full()) flush();
    });
    flush();
    return true;
}

void SongMan::EnterArtists(const std::vector<Artist*>& made) {
    // By id: index files list their artists by ascending id, so each goes in at the end of the tree
    // without a search; an id out of order is entered the usual way. A later line wins a shared id.
    for (Artist* artist : made) {
        if (artists_by_id.empty() || artists_by_id.rbegin()->first < artist->id) {
            artists_by_id.emplace_hint(artists_by_id.end(), artist->id, artist);
        } else {
            artists_by_id[artist->id] = artist;
        }
    }
    // By name: entered in name order, each at the end of the tree, instead of searching a tree of
    // scattered nodes once per artist. The sort is stable, so of the lines sharing a name the last one
    // comes last and wins, as it would entered one by one. Names compare by their first two characters,
    // kept beside each artist, before their texts are read.
    struct Named {
        uint64_t prefix;
        const Artist* artist;
        size_t line;
    };
    std::vector<Named> byName(made.size());
    for (size_t i = 0; i < made.size(); ++i) {
        const std::wstring_view name = made[i]->name;
        // Each character as 32 unsigned bits, as std::wstring compares them (wchar_t is compared through
        // char_traits<wchar_t>, which uses wchar_t's own order); the characters past the end as 0.
        auto unit = [&](size_t k) -> uint64_t {
            return k < name.size() ? static_cast<uint32_t>(static_cast<int64_t>(name[k]) - INT32_MIN) : 0u;
        };
        byName[i] = {(unit(0) << 32) | unit(1), made[i], i};
    }
    std::sort(byName.begin(), byName.end(), [](const Named& a, const Named& b) {
        if (a.prefix != b.prefix) return a.prefix < b.prefix;
        const int c = std::wstring_view(a.artist->name).compare(b.artist->name);
        if (c != 0) return c < 0;
        return a.line < b.line;
    });
    const bool wasEmpty = artists_by_name.empty();
    for (const Named& n : byName) {
        Artist* artist = const_cast<Artist*>(n.artist);
        if (wasEmpty) {
            if (!artists_by_name.empty() && artists_by_name.rbegin()->first == std::wstring_view(artist->name)) {
                artists_by_name.rbegin()->second = artist;
            } else {
                artists_by_name.emplace_hint(artists_by_name.end(), artist->name, artist);
            }
        } else {
            artists_by_name[artist->name] = artist;
        }
    }
}

// ---- the song index -------------------------------------------------------------------------------------

bool SongMan::LoadVodMtvIndex(const std::wstring& file) { return LoadVodMtvIndex(file, nullptr); }

bool SongMan::LoadVodMtvIndex(const std::wstring& file, SongIndexReading* started,
                              const std::vector<Artist*>* artistsInLineOrder) {
    PerfTimer timer(g_settings, setting_keys::kLoadVodMtvIndex);
    // A reader thread reads and checks the lines and converts the title and path of each, a chunk of
    // lines at a time, while this thread makes the songs of the chunks in line order.
    std::unique_ptr<SongIndexReading> own;
    SongIndexReading* reading = started;
    if (reading == nullptr) {
        own = std::make_unique<SongIndexReading>();
        reading = own.get();
        if (!reading->Start(file)) return false;
    }

    auto* vod = new Album;
    vod->kind = index_album;
    vod->name = L"VOD";
    vod->dir = L"VOD";
    vod->sort_key = TextKey(vod->name);
    vod->index = static_cast<int32_t>(albums.size());
    albums.push_back(vod);

    // A song line is about 60 bytes or more; reserving from the file size avoids regrowing a large list.
    songs.reserve(songs.size() + static_cast<size_t>(reading->index.Size() / 64));

    // artists_by_id stays the catalogue's index by id, but one lookup per song line in a tree of
    // scattered nodes costs a cache miss per level; a flat table made once answers the same question
    // (made from the artist index's records when they are given: the map may still be in the making).
    ArtistIdIndex byId = artistsInLineOrder != nullptr ? ArtistIdIndex(*artistsInLineOrder) : ArtistIdIndex(artists_by_id);

    // The extension of the song made last, shared with the next song that has the same one.
    RecordText lastExt;
    SongChunkPipe& pipe = reading->pipe;
    while (SongChunk* chunk = pipe.TakeFilled()) {
        FieldBatch& texts = chunk->texts;
        const size_t count = chunk->songs.size();
        for (size_t k = 0; k < count; ++k) {
            // The table slots of songs a few lines ahead are asked for now: ids jump about the table.
            if (k + kArtistLookahead < count) byId.Prefetch(chunk->songs[k + kArtistLookahead].artist_id);
            ArtistIdIndex::Entry* artist = byId.Find(chunk->songs[k].artist_id);
            if (artist == nullptr) continue;  // a line naming no loaded artist is not a song
            PrefetchReusableSongs(*this, 4);
            const std::wstring_view title = texts.Text(2 * k);
            const std::wstring_view path = texts.Text(2 * k + 1);

            Song* song = NewSong();
            song->album_ref = vod;
            ++vod->song_count;
            ++artist->songs;  // counted for the artist and its name by byId.Settle
            song->artist.ShareUncounted(artist->name);
            song->artist_ref = artist->artist;
            song->id = static_cast<int32_t>(songs.size());
            song->name.assign(title);
            SetExtension(&song->ext, path, &lastExt);
            song->path.AssignEncoded(chunk->Path(k));  // without a leading "\\mtv\\", encoded by the reader
            song->audio_type = chunk->songs[k].audio_type;
            songs.push_back(song);
            pinyin_columns.SetSong(song->id, chunk->Column(k));
        }
        chunk->texts.Clear();
        chunk->songs.clear();
        chunk->columns.clear();
        chunk->paths.clear();
        chunk->path_ends.clear();
        pipe.PutFree(chunk);
    }
    reading->reader->Join();  // rethrows what stopped the reader early (memory ran out)
    return true;
}

// ---- artists without songs ----------------------------------------------------------------------------

void SongMan::PruneArtists() {
    artists.erase_if([this](Artist* artist) {
        if (artist->song_count != 0) return false;
        auto byName = artists_by_name.find(artist->name);
        if (byName != artists_by_name.end() && byName->second == artist) artists_by_name.erase(byName);
        auto byId = artists_by_id.find(artist->id);
        if (byId != artists_by_id.end() && byId->second == artist) artists_by_id.erase(byId);
        return true;
    });
}
