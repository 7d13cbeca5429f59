// Catalogue queries: the four song orders, the two artist orders, searching and the result caches.
//
// Without the search index, the orders compare precomputed code page 936 keys (the artists' and albums'
// sort_key, made at load time; the titles' made once per sort), which gives the same order as comparing
// the texts with TextLess but converts nothing while sorting.
//
// Equal names. Taken literally, the comparisons "different artist records: compare their names" (and the
// like for albums and titles) treat two different records with the same name as equal while still
// ordering each of them against a third record; such a comparison is not a strict weak ordering, and
// std::sort with it may misplace elements or run out of bounds. Each order below therefore compares whole
// keys lexicographically, with the record's identity right after its name: wherever the plain comparison
// puts one song before another, so does this one, and records with equal names are kept together in a
// fixed order (artist id, album creation index, song id) instead of being mixed at random.
#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

#include "core/Text.h"
#include "library/ChineseText.h"
#include "library/SongMan.h"

namespace {

const std::string& ArtistKey(const Song* s) {
    static const std::string empty;
    return s->artist_ref != nullptr ? s->artist_ref->sort_key : empty;
}
int32_t ArtistId(const Song* s) { return s->artist_ref != nullptr ? s->artist_ref->id : 0; }
const std::string& AlbumKey(const Song* s) {
    static const std::string empty;
    return s->album_ref != nullptr ? s->album_ref->sort_key : empty;
}
int32_t AlbumIndex(const Song* s) { return s->album_ref != nullptr ? s->album_ref->index : 0; }

// Three-way comparisons, so each order reads as a list of keys.
template <class T>
int Cmp(const T& a, const T& b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

// A song with its title's sort key (TextKey), for sorting without the search index.
struct KeyedSong {
    Song* song;
    std::string title_key;
};

// The four song orders as comparisons of keyed songs.
struct SongOrderLess {
    int order;

    bool operator()(const KeyedSong& x, const KeyedSong& y) const {
        switch (order) {
            case 0: return ByArtist(x, y);
            case 1: return ByAlbum(x, y);
            case 2: return ByName(x, y);
            default: return ByExt(x.song, y.song);
        }
    }

    // Order 0: artist, album, title.
    static bool ByArtist(const KeyedSong& x, const KeyedSong& y) {
        const Song* a = x.song;
        const Song* b = y.song;
        if (a->artist_ref != b->artist_ref) {
            if (int c = Cmp(ArtistKey(a), ArtistKey(b))) return c < 0;
            if (int c = Cmp(ArtistId(a), ArtistId(b))) return c < 0;
            return std::less<const Artist*>()(a->artist_ref, b->artist_ref);
        }
        if (int c = Cmp(AlbumIndex(a), AlbumIndex(b))) return c < 0;
        if (int c = Cmp(x.title_key, y.title_key)) return c < 0;
        return a->id < b->id;
    }

    // Order 1: album, artist, title.
    static bool ByAlbum(const KeyedSong& x, const KeyedSong& y) {
        const Song* a = x.song;
        const Song* b = y.song;
        if (AlbumIndex(a) != AlbumIndex(b)) {
            if (int c = Cmp(AlbumKey(a), AlbumKey(b))) return c < 0;
            return AlbumIndex(a) < AlbumIndex(b);
        }
        if (a->artist_ref != b->artist_ref) {
            if (int c = Cmp(ArtistId(a), ArtistId(b))) return c < 0;
            return std::less<const Artist*>()(a->artist_ref, b->artist_ref);
        }
        if (int c = Cmp(x.title_key, y.title_key)) return c < 0;
        return a->id < b->id;
    }

    // Order 2: title, artist, album.
    static bool ByName(const KeyedSong& x, const KeyedSong& y) {
        const Song* a = x.song;
        const Song* b = y.song;
        if (a->name != b->name) {
            if (int c = Cmp(x.title_key, y.title_key)) return c < 0;
            // Different titles with the same code page 936 bytes (characters that have no code): keep each
            // title together.
            return a->name < b->name;
        }
        if (a->artist_ref != b->artist_ref) {
            if (int c = Cmp(ArtistId(a), ArtistId(b))) return c < 0;
            return std::less<const Artist*>()(a->artist_ref, b->artist_ref);
        }
        if (int c = Cmp(AlbumIndex(a), AlbumIndex(b))) return c < 0;
        return a->id < b->id;
    }

    // Order 3: extension, song id.
    static bool ByExt(const Song* a, const Song* b) {
        if (a->ext != b->ext) return a->ext < b->ext;
        return a->id < b->id;
    }
};

// Sorts `list` into order 0 to 3 by comparison, each title's key made once.
void SortSongs(std::vector<Song*>* list, int order) {
    std::vector<KeyedSong> keyed;
    keyed.reserve(list->size());
    for (Song* s : *list) keyed.push_back({s, order == 3 ? std::string() : TextKey(s->name)});
    std::sort(keyed.begin(), keyed.end(), SongOrderLess{order});
    for (size_t i = 0; i < keyed.size(); ++i) (*list)[i] = keyed[i].song;
}

int SongOrder(const std::wstring& sortName) {
    if (EqualsAsciiNoCase(sortName, L"album")) return 1;
    if (EqualsAsciiNoCase(sortName, L"name")) return 2;
    if (EqualsAsciiNoCase(sortName, L"ext")) return 3;
    return 0;
}

// Search terms: runs of text between space, ",", tab, "-" and ":".
std::vector<std::wstring> SplitTerms(const std::wstring& text) {
    std::vector<std::wstring> terms;
    Split(text, L" ,	-:", terms);
    return terms;
}

// True when `term` (already folded) occurs in `text`, folding A-Z to a-z in the text; every other code
// unit compares exactly.
bool ContainsFolded(const std::wstring& text, const std::wstring& term) {
    const size_t n = text.size(), m = term.size();
    if (m == 0) return true;
    if (m > n) return false;
    const wchar_t first = term[0];
    for (size_t i = 0; i + m <= n; ++i) {
        if (AsciiLower(text[i]) != first) continue;
        size_t j = 1;
        while (j < m && AsciiLower(text[i + j]) == term[j]) ++j;
        if (j == m) return true;
    }
    return false;
}

// Artist order 0: category, then name; order 1: most songs first, then name. Equal keys fall back to the
// artist id and then the list position, so the result is the same every time.
bool ArtistByCategory(const Artist* a, const Artist* b) {
    if (a->category != b->category) return a->category < b->category;
    if (int c = Cmp(a->sort_key, b->sort_key)) return c < 0;
    return a->id < b->id;
}
bool ArtistBySongCount(const Artist* a, const Artist* b) {
    if (a->song_count != b->song_count) return a->song_count > b->song_count;
    if (int c = Cmp(a->sort_key, b->sort_key)) return c < 0;
    return a->id < b->id;
}

}  // namespace

std::vector<Song*>* SongMan::QuerySongs(const std::wstring& query, const std::wstring& sort_name) {
    return QueryOfKind(SearchIndex::Kind::designed, query, sort_name);
}

std::vector<Song*>* SongMan::QueryPinyinSongs(const std::wstring& query, const std::wstring& sort_name) {
    return QueryOfKind(SearchIndex::Kind::pinyin, query, sort_name);
}

std::vector<Song*>* SongMan::QueryOfKind(SearchIndex::Kind kind, const std::wstring& query,
                                         const std::wstring& sort_name) {
    const int order = SongOrder(sort_name);
    // The designed search's key ends in "|0"; the pinyin search's in "|1".
    const std::wstring key =
        query + L"|" + std::to_wstring(order) + (kind == SearchIndex::Kind::designed ? L"|0" : L"|1");
    if (std::vector<Song*>* cached = song_query_cache.Find(key)) return cached;

    // Until the index of this catalogue is made, the designed search scans (same answers, more time); the
    // pinyin search waits for it, as only the index knows the index files' pinyin columns. An order not
    // yet listed waits too: the index has it prepared sooner than a sort by comparison would make it.
    if (sorted_song_lists.size() < 4) sorted_song_lists.resize(4, nullptr);
    std::vector<Song*>*& sorted = sorted_song_lists[static_cast<size_t>(order)];
    const bool indexed = AdoptSearchIndex(kind == SearchIndex::Kind::pinyin || sorted == nullptr);
    if (sorted == nullptr) {
        auto* list = new std::vector<Song*>();
        const std::vector<uint32_t>& prepared = search_index.Order(order);
        if (indexed && prepared.size() == songs.size()) {
            list->reserve(prepared.size());
            for (uint32_t id : prepared) list->push_back(songs[id]);
        } else {
            list->assign(songs.begin(), songs.end());
            SortSongs(list, order);
        }
        sorted = list;
    }

    std::vector<Song*>* result;
    if (!indexed) {
        result = kind == SearchIndex::Kind::designed ? FilterSongs(query, *sorted) : FilterPinyinSongs(query, *sorted);
    } else if (query.empty()) {
        result = new std::vector<Song*>(*sorted);
    } else {
        std::vector<uint64_t> hits;
        const bool duet = kind == SearchIndex::Kind::designed && (query == L"对唱" || query == L"合唱");
        search_index.Match(kind, SplitTerms(query), duet, &hits);
        result = new std::vector<Song*>();
        size_t found = 0;
        for (uint64_t w : hits) found += static_cast<size_t>(std::popcount(w));
        auto hit = [&hits](size_t id) { return (hits[id >> 6] >> (id & 63)) & 1; };
        if (search_index.Order(order).size() == sorted->size()) {
            // The prepared ids are the sorted list's songs in the same order: no song record is read.
            search_index.InOrder(order, hits, found, sorted->data(), songs.data(), result);
        } else {
            result->reserve(found);
            for (Song* song : *sorted) {
                if (hit(static_cast<size_t>(song->id))) result->push_back(song);
            }
        }
    }
    song_query_cache.Insert(key, result);
    return result;
}

std::vector<Song*>* SongMan::FilterSongs(const std::wstring& query, const std::vector<Song*>& base) {
    if (query.empty()) return new std::vector<Song*>(base);
    std::vector<std::wstring> terms = SplitTerms(query);
    bool plainTerms = true;
    for (std::wstring& term : terms) {
        for (wchar_t& c : term) c = AsciiLower(c);
        // The search block separates the fields with zero characters, so a term holding one could
        // match across two fields; such a term is looked for field by field instead.
        if (term.find(L'\0') != std::wstring::npos) plainTerms = false;
    }
    const bool duet = query == L"对唱" || query == L"合唱";

    if (plainTerms && search_offsets.size() != songs.size() + 1) BuildSearchText();

    auto* result = new std::vector<Song*>();
    for (Song* song : base) {
        bool match = true;
        if (plainTerms && static_cast<size_t>(song->id) + 1 < search_offsets.size()) {
            const std::wstring_view fields(search_text.data() + search_offsets[static_cast<size_t>(song->id)],
                                           search_offsets[static_cast<size_t>(song->id) + 1] -
                                               search_offsets[static_cast<size_t>(song->id)]);
            for (const std::wstring& term : terms) {
                if (fields.find(term) == std::wstring_view::npos) {
                    match = false;
                    break;
                }
            }
        } else {
            for (const std::wstring& term : terms) {
                if (!ContainsFolded(song->artist, term) &&
                    !(song->album_ref != nullptr && ContainsFolded(song->album_ref->name, term)) &&
                    !ContainsFolded(song->name, term) && !ContainsFolded(song->ext, term)) {
                    match = false;
                    break;
                }
            }
        }
        if (match || (duet && song->artist.find(L',') != std::wstring::npos)) result->push_back(song);
    }
    return result;
}

std::vector<Song*>* SongMan::FilterPinyinSongs(const std::wstring& query, const std::vector<Song*>& base) {
    if (query.empty()) return new std::vector<Song*>(base);
    std::vector<std::wstring> terms = SplitTerms(query);
    for (std::wstring& term : terms) term = chinese_text::FoldForSearch(term);
    auto* result = new std::vector<Song*>();
    static const std::wstring kNoAlbum;
    for (Song* song : base) {
        const std::wstring& album = song->album_ref != nullptr ? song->album_ref->name : kNoAlbum;
        bool match = true;
        for (const std::wstring& term : terms) {
            if (!chinese_text::PinyinSearchMatches(term, song->name) &&
                !chinese_text::PinyinSearchMatches(term, song->artist) &&
                !chinese_text::PinyinSearchMatches(term, album)) {
                match = false;
                break;
            }
        }
        if (match) result->push_back(song);
    }
    return result;
}

void SongMan::BuildSearchText() {
    search_text.clear();
    search_offsets.clear();
    search_offsets.reserve(songs.size() + 1);
    size_t total = 0;
    for (const Song* song : songs) {
        total += song->artist.size() + song->name.size() + song->ext.size() + 4 +
                 (song->album_ref != nullptr ? song->album_ref->name.size() : 0);
    }
    search_text.reserve(total);
    auto append = [this](const std::wstring& text) {
        for (wchar_t c : text) search_text.push_back(AsciiLower(c));
        search_text.push_back(L'\0');
    };
    static const std::wstring kNoAlbum;
    for (const Song* song : songs) {
        search_offsets.push_back(static_cast<uint32_t>(search_text.size()));
        append(song->artist);
        append(song->album_ref != nullptr ? song->album_ref->name : kNoAlbum);
        append(song->name);
        append(song->ext);
    }
    search_offsets.push_back(static_cast<uint32_t>(search_text.size()));
}

std::vector<Artist*>* SongMan::QueryArtists(const std::wstring& filter, const std::wstring& sort_name) {
    const int order = EqualsAsciiNoCase(sort_name, L"song_count") ? 1 : 0;
    const std::wstring key = filter + L"|" + std::to_wstring(order);
    if (std::vector<Artist*>* cached = artist_query_cache.Find(key)) return cached;

    std::vector<Artist*> sorted(artists.begin(), artists.end());
    std::sort(sorted.begin(), sorted.end(), order == 1 ? ArtistBySongCount : ArtistByCategory);
    std::vector<Artist*>* result = FilterArtists(filter, sorted);
    artist_query_cache.Insert(key, result);
    return result;
}

std::vector<Artist*>* SongMan::FilterArtists(const std::wstring& filter, const std::vector<Artist*>& base) {
    if (filter.empty()) return new std::vector<Artist*>(base);
    const std::vector<std::wstring> terms = SplitTerms(filter);
    auto* result = new std::vector<Artist*>();
    for (Artist* artist : base) {
        const wchar_t* category = ArtistCategoryName(artist->category);
        const wchar_t* region = ArtistRegionName(artist->region);
        bool match = true;
        for (const std::wstring& term : terms) {
            if (term != category && term != region) {
                match = false;
                break;
            }
        }
        if (match) result->push_back(artist);
    }
    return result;
}
