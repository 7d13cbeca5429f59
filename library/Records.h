// Catalogue records and their small helpers: Song, Album, Artist, the enumerations with their external
// name tables, the owning pointer vector autoreleaselist, the bounded result cache QueryCache, and the
// catalogue text order TextLess.
//
// Records are plain data. Each is allocated singly and owned by exactly one autoreleaselist of SongMan;
// every other holder (maps, the queue, result lists, current_song) keeps plain pointers that stay valid
// until the next SongMan::Reload. Records have no lock of their own: they are read and written under
// SongMan::lock (see SongMan.h).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "library/RecordText.h"
#include "platform/CodePage.h"
#include "platform/Tick.h"

// ---- enumerations and their external names -------------------------------------------------------

// How the accompaniment is laid out in a song's audio.
enum AudioType : int32_t {
    unknown_audio_type = 0,
    stereo_karaoke = 1,
    left_karaoke = 2,
    right_karaoke = 3,
};
inline constexpr const wchar_t* kAudioTypeNames[] = {L"unknown", L"stereo_karaoke", L"left_karaoke",
                                                     L"right_karaoke"};

enum ArtistCategory : int32_t {
    unknown_category = 0,
    male_category = 1,
    female_category = 2,
    band_category = 3,
};
inline constexpr const wchar_t* kArtistCategoryNames[] = {L"unknown", L"male", L"female", L"band"};

enum ArtistRegion : int32_t {
    unknown_region = 0,
    mainland_region = 1,
    hongkong_taiwan_region = 2,
    foreign_region = 3,
};
inline constexpr const wchar_t* kArtistRegionNames[] = {L"unknown", L"mainland", L"hongkong_taiwan",
                                                        L"foreign"};

enum AlbumKind : int32_t {
    index_album = 1,      // the one album "VOD" holding every song of the song index
    described_album = 2,  // read from an album description by the renaming tool; never catalogued
    folder_album = 3,     // one per folder-derived album name of the user folder scan
};

// Audio source codes held in SongMan::audio_source, with their names (settings, automation, web
// commands) and the Chinese names the pages show. Code 0 is also what an unknown name parses to.
inline constexpr int32_t kAudioSourceCount = 5;
inline constexpr const wchar_t* kAudioSourceNames[kAudioSourceCount] = {L"karaoke", L"original", L"left",
                                                                        L"right", L"stereo"};
inline constexpr const wchar_t* kAudioSourceDisplayNames[kAudioSourceCount] = {
    L"伴唱", L"原唱", L"左声道", L"右声道", L"立体声"};

// Name of a code. The index files may carry any number where a category or region belongs, so a code
// outside a table reads as the table's entry 0 ("unknown") rather than indexing past it.
template <size_t N>
inline const wchar_t* CodeName(const wchar_t* const (&table)[N], int32_t code) {
    return (code >= 0 && static_cast<size_t>(code) < N) ? table[code] : table[0];
}
inline const wchar_t* AudioTypeName(int32_t code) { return CodeName(kAudioTypeNames, code); }
inline const wchar_t* ArtistCategoryName(int32_t code) { return CodeName(kArtistCategoryNames, code); }
inline const wchar_t* ArtistRegionName(int32_t code) { return CodeName(kArtistRegionNames, code); }

// ---- catalogue text order --------------------------------------------------------------------------

// The code page 936 bytes of a text, as TextLess compares them (characters without a code become the
// converter's "?"). Records keep this precomputed in their sort_key fields.
inline std::string TextKey(std::wstring_view text) { return platform::WideToMultiByte(platform::CP_GBK, text); }

// Compares two keys made by TextKey as unsigned bytes; a proper prefix comes first. (std::string's own
// ordering already compares as unsigned char; this names the intent.)
inline bool TextKeyLess(std::string_view a, std::string_view b) { return a < b; }

// The catalogue text order: both texts in code page 936, compared as unsigned bytes. For Chinese text
// this is the GB2312 order, which groups common characters by pronunciation. Converts on every call;
// sorting code should compare the records' sort_key fields with TextKeyLess instead.
struct TextLess {
    bool operator()(std::wstring_view a, std::wstring_view b) const { return TextKey(a) < TextKey(b); }
};

// ---- records -------------------------------------------------------------------------------------------

struct Artist;
struct Album;

// One playable file. The texts are RecordTexts (RecordText.h): a million songs are a million records, and
// a text there costs 8 bytes instead of std::wstring's 32; songs of one artist share the artist text, and
// songs with the same extension share that.
struct Song {
    RecordText artist;             // shown artist text; for a scanned duet several names with commas
    Artist* artist_ref = nullptr;  // primary artist, not owning
    Album* album_ref = nullptr;    // not owning
    RecordText name;               // title
    int32_t id = 0;                // position in SongMan::songs
    int32_t audio_type = 0;        // AudioType code (beside id, so that neither needs padding)
    RecordPath path;               // relative to the music-video root (indexed songs only), kept as UTF-8
    RecordText full_path;          // absolute path (scanned files only)
    RecordText ext;                // lower-case extension without the dot

    // Song records made with new come from SongRecordPool (below): a million records are a million
    // allocations, and the allocator's own 8-byte header would round each 64-byte record up to 80 bytes.
    static void* operator new(size_t bytes);
    static void operator delete(void* record) noexcept;

    // The title's sort key (TextKey) is not kept here: the search index ranks the distinct titles by it once
    // per catalogue, and a sort without the index makes the keys it needs.
};
// Kept small; a field added here must also be blanked by SongMan::NewSong.
static_assert(sizeof(void*) != 8 || sizeof(Song) == 64, "a song record is meant to stay small");

// Where song records made with new live: 64-byte slots carved from blocks of 4096 slots, handed out and
// taken back through a free list. A block is never given back to the system (a catalogue that shrinks
// leaves its slots to the next Reload). Builds with AddressSanitizer use the ordinary heap instead, so that
// a song used after its deletion is still reported. Thread-safe: its own mutex guards the free list and
// the blocks (records are made and deleted on the GUI thread, but a SongMan may be destroyed anywhere).
namespace song_record_pool {
void* Take(size_t bytes);
void Give(void* record) noexcept;
// Slots handed out and not given back, and slots the pool holds in all; for tests and benchmarks.
size_t SlotsInUse();
size_t SlotsHeld();
}  // namespace song_record_pool

inline void* Song::operator new(size_t bytes) { return song_record_pool::Take(bytes); }
inline void Song::operator delete(void* record) noexcept { song_record_pool::Give(record); }

struct Album {
    int32_t kind = 0;          // AlbumKind code
    std::wstring name;         // key of SongMan::albums_by_name
    std::wstring artist;       // described albums only
    std::wstring dir;          // "VOD", the folder album name, or a described album's "dir" line
    std::wstring dir_org;      // described albums only
    std::wstring dir_mp3;      // described albums only
    bool ignore = false;       // described albums only
    std::vector<Song> songs;   // described albums only; catalogue songs point here via album_ref
    int32_t index = 0;         // position in SongMan::albums when created
    int32_t song_count = 0;    // catalogue songs whose album_ref is this album

    // Added for sorting: TextKey(name), made when the album is created (catalogue albums only).
    std::string sort_key;
};

struct Artist {
    int32_t id = 0;
    int32_t category = 0;      // ArtistCategory code as read; may lie outside the table
    int32_t region = 0;        // ArtistRegion code as read; may lie outside the table
    RecordText name;           // key of SongMan::artists_by_name; its indexed songs share this text
    int32_t song_count = 0;    // songs linked to the artist, as primary or secondary artist

    // Added for sorting: TextKey(name), made when the artist is created.
    std::string sort_key;
};

// ---- autoreleaselist -----------------------------------------------------------------------------------

// A vector of pointers that owns what they point to: erasing an element, clearing the list and destroying
// it delete the pointed-to objects (null elements are allowed). autoreleaselist<Song> is a vector of
// Song*; autoreleaselist<std::vector<Song*>> deletes the vectors, never the songs in them.
//
// Only the members below delete; assigning over an element through operator[] or an iterator does not
// delete the old object (used to reorder the list in place).
template <class T>
class autoreleaselist : public std::vector<T*> {
public:
    using base = std::vector<T*>;
    using typename base::iterator;

    autoreleaselist() = default;
    autoreleaselist(const autoreleaselist&) = delete;
    autoreleaselist& operator=(const autoreleaselist&) = delete;
    virtual ~autoreleaselist() { clear(); }

    void clear() {
        // Detach first, so a destructor that looks at the list never sees a deleted element.
        base doomed;
        doomed.swap(*this);
        for (T* p : doomed) delete p;
    }

    iterator erase(iterator pos) {
        T* doomed = *pos;
        iterator next = base::erase(pos);
        delete doomed;
        return next;
    }

    iterator erase(iterator first, iterator last) {
        base doomed(first, last);
        iterator next = base::erase(first, last);
        for (T* p : doomed) delete p;
        return next;
    }

    void pop_back() {
        T* doomed = this->back();
        base::pop_back();
        delete doomed;
    }

    // Deletes every element for which pred(element) is true, keeping the others in order; one pass.
    template <class Pred>
    size_t erase_if(Pred pred) {
        size_t kept = 0;
        size_t removed = 0;
        for (size_t i = 0; i < this->size(); ++i) {
            T* p = (*this)[i];
            if (pred(p)) {
                delete p;
                ++removed;
            } else {
                (*this)[kept++] = p;
            }
        }
        base::resize(kept);
        return removed;
    }
};

// ---- QueryCache ----------------------------------------------------------------------------------------

// A bounded cache of query results of one record type (Song or Artist). Each entry owns its result vector
// (never the records in it). Insertion evicts the oldest entries first (smallest stamp; among equal
// stamps the first in key order); a lookup does not renew a stamp. No lock of its own: used under
// SongMan::lock, and a list handed out must not be read after that lock is released.
template <class T>
class QueryCache {
public:
    struct CacheEntry {
        std::vector<T*>* list = nullptr;  // owned by the entry
        uint32_t stamp = 0;               // platform::MillisecondsSinceStart() at insertion
    };

    explicit QueryCache(int32_t capacity_ = 1) : capacity(capacity_) {}
    QueryCache(const QueryCache&) = delete;
    QueryCache& operator=(const QueryCache&) = delete;
    ~QueryCache() { Clear(); }

    // The cached list under `key`, or null.
    std::vector<T*>* Find(const std::wstring& key) const {
        auto it = entries.find(key);
        return it == entries.end() ? nullptr : it->second->list;
    }

    // Takes ownership of `list` and files it under `key`, first evicting while the cache is full. A list
    // already filed under the same key is replaced (and deleted) rather than leaked.
    void Insert(const std::wstring& key, std::vector<T*>* list) {
        Erase(key);
        while (!entries.empty() && static_cast<int64_t>(entries.size()) >= capacity) {
            auto oldest = entries.begin();
            for (auto it = entries.begin(); it != entries.end(); ++it) {
                if (it->second->stamp < oldest->second->stamp) oldest = it;
            }
            delete oldest->second->list;
            delete oldest->second;
            entries.erase(oldest);
        }
        entries[key] = new CacheEntry{list, platform::MillisecondsSinceStart()};
    }

    // Deletes every entry and its list.
    void Clear() {
        for (auto& [key, entry] : entries) {
            delete entry->list;
            delete entry;
        }
        entries.clear();
    }

    int32_t capacity;                                 // largest number of entries kept
    std::map<std::wstring, CacheEntry*> entries;      // ordered by code units

private:
    void Erase(const std::wstring& key) {
        auto it = entries.find(key);
        if (it == entries.end()) return;
        delete it->second->list;
        delete it->second;
        entries.erase(it);
    }
};
