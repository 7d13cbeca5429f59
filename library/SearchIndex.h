// SearchIndex: what the song searches and the song orders read instead of scanning the catalogue, made
// once per Reload by the thread that loads the catalogue.
//
//   - The four song orders of QuerySongs, as song ids: made with integer keys (the rank of the artist,
//     album and title under each order's comparison, and the song id last), so that each comes out exactly
//     as sorting the songs with the order's comparison would, without comparing texts.
//   - For each field a song is searched in (artist text, album name, title, extension), the distinct texts
//     ("entries") with the songs' entry numbers. A term is looked for in the entries, never in every song:
//     a catalogue of a million songs has some hundred thousand distinct titles and far fewer artists,
//     albums and extensions. Each entry keeps its folded texts and small signatures (which characters
//     occur, which pinyin initials and letter pairs can begin a match), so most entries are passed over
//     by comparing a few bits.
//
//   - The pinyin units of every entry as numbers into one table of distinct units (see Units).
//
// Two kinds of search. `designed`: the matching of QuerySongs (a term is a substring of the artist text,
// album name, title or extension, A-Z folded to a-z), giving exactly the songs the plain scan gives.
// `pinyin`: a term matches the title, artist text or album name by its text folded (letter case,
// fullwidth forms, traditional to simplified) or by pinyin (ChineseText.h).
//
// Threads: Build runs on SongMan's index builder thread, which Reload starts once the catalogue is loaded,
// into an object of its own; a query under SongMan::lock then takes the finished object over. It reads
// the records without the lock: nothing changes them until the next Reload (or the rename tool), and both
// wait for the builder first. Build uses helper threads of its own,
// one at a time, each joined before Build goes on or returns: one walks the songs for the artist, album
// and extension fields while the calling thread walks them for the titles, and then one makes the song
// orders while the calling thread makes the entries. Each side writes only its own fields and locals.
// Match and the orders are read by queries under SongMan::lock. The object has no lock of its own. On a
// large catalogue Match shares its passes with a helper thread of its own, joined before it goes on: the
// helper matches a term against the first part of the titles (with TermSteps of its own) or adds the
// songs of one half of the song ids, writing only its own words of the bit sets. InOrder likewise, under
// SongMan::lock, shares a large catalogue's pass over an order with a helper thread of its own that writes
// only buffers of its own, joined before InOrder goes on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "library/ChineseText.h"

class SongMan;
class PinyinColumns;
struct Song;

class SearchIndex final {
public:
    enum class Kind { designed, pinyin };
    static constexpr int kOrders = 4;

    SearchIndex() = default;
    SearchIndex(const SearchIndex&) = delete;
    SearchIndex& operator=(const SearchIndex&) = delete;
    SearchIndex(SearchIndex&&) = default;
    SearchIndex& operator=(SearchIndex&&) = default;  // a finished index handed over by its builder

    // Makes everything for the catalogue of `man` as Reload left it (songs, their artists and albums).
    // `columns`: the index files' pinyin columns.
    void Build(const SongMan& man, const PinyinColumns& columns);
    void Clear();
    // Whether the index describes a catalogue of this many songs (it is made by every Reload).
    bool Covers(size_t songCount) const { return m_built && m_songCount == songCount; }

    // The song ids in order 0 to 3 (QuerySongs' orders).
    const std::vector<uint32_t>& Order(int order) const { return m_orders[order]; }

    // Sets bit n of `hits` (one bit per song id, resized here) for every song that every term matches;
    // with no terms, every song. `duet`: also every song whose artist text contains "," (the designed
    // search's duet query).
    void Match(Kind kind, const std::vector<std::wstring>& terms, bool duet, std::vector<uint64_t>* hits) const;

    // Puts into `result` (resized here) the songs whose bit is set in `hits` (`found` of them, as Match
    // left them) in order `order`: from `sorted` (the songs in that order) when many, else through `byId`
    // (the songs by id). A large catalogue's pass over the order is shared with a helper thread of its own
    // (the second half of the order, into a buffer of its own), joined before it returns.
    void InOrder(int order, const std::vector<uint64_t>& hits, size_t found, Song* const* sorted,
                 Song* const* byId, std::vector<Song*>* result) const;

    // The sizes at which Match changes its way of working, set by tests so that small catalogues take
    // every way too (the answers are the same); kept by Build and Clear.
    struct Tuning {
        // From this many entries of all fields together, and songs, Match shares its passes with a helper
        // thread: a large catalogue's, where that pays for the thread's start (some 50 microseconds).
        size_t sharedEntries = 65536;
        size_t sharedSongs = 262144;
        // Songs left after a term that the next term checks one by one rather than through the entries:
        // an eighth of the catalogue at most, and no more than the entries' lookups in scattered memory
        // beat a pass over the entries (measured on 100,000 and 1,000,000 songs). Up to a quarter of the
        // catalogue, the next term looks only at the entries of the songs left.
        size_t fewSongs = 16384;
    };
    void Tune(const Tuning& tuning) { m_tuning = tuning; }

    // Bytes held, for the benchmarks.
    size_t MemoryBytes() const;

private:
    // The distinct texts of one field.
    struct Field {
        std::wstring text;              // every entry's text folded for the designed search, one after another
        std::vector<uint32_t> start;    // entry i is text[start[i], start[i + 1])
        std::vector<uint64_t> chars;    // which characters occur (CharBits) in the designed folding
        bool hasPinyin = false;         // searched by the pinyin search too (not the extension)
        std::wstring pyText;            // texts whose pinyin folding differs, one after another
        std::vector<uint32_t> pyStart;  // entry i's pinyin-folded text in pyText, or kSame: as `text`
        std::vector<uint64_t> pyChars;  // CharBits of the pinyin-folded text
        std::vector<uint64_t> initials; // InitialBit of every reading's first letter
        std::vector<uint64_t> letters;  // CharBit of every letter of every reading
        std::vector<uint64_t> pairs[2]; // a 128-bit filter of the letter pairs that can begin a match
        std::vector<uint32_t> units;    // each entry's pinyin units (numbers into m_units), in turn
        std::vector<uint32_t> unitsEnd; // entry i's units end at unitsEnd[i]
        std::vector<uint32_t> songsOf;  // per song id: its entry
        std::vector<uint32_t> postingStart;  // entry i's songs are postings[postingStart[i], [i + 1])
        std::vector<uint32_t> postings;      // song ids grouped by entry, ascending within each
        std::vector<uint8_t> comma;     // per entry: the text contains "," (artist text only)

        size_t Count() const { return start.empty() ? 0 : start.size() - 1; }
        const uint32_t* UnitsBegin(size_t e) const { return units.data() + (e == 0 ? 0 : unitsEnd[e - 1]); }
        const uint32_t* UnitsEnd(size_t e) const { return units.data() + unitsEnd[e]; }
    };
    static constexpr uint32_t kSame = UINT32_MAX;

    // The distinct pinyin units of all fields (a Han character with its readings, a run of letters): a
    // catalogue has a few thousand, while its texts have millions. Unit u is unitText[unitStart[u],
    // unitStart[u + 1]): its readings, each followed by PinyinUnits::kEndOfReading.
    struct Units {
        std::string text;
        std::vector<uint32_t> start{0};
        size_t Count() const { return start.size() - 1; }
    };
    // A pinyin term worked out against the units (defined in SearchIndex.cpp), so that an entry is matched
    // by a table lookup per unit instead of by reading its readings. One per term of a query.
    class TermSteps;

    // Whether `term` (folded for `kind`, with CharBits `want`) matches entry `e` of `field`; `pinyin`: the
    // term worked out for pinyin matching, or null when it cannot match by pinyin (or kind is designed).
    bool EntryMatches(Kind kind, const Field& field, size_t e, const std::wstring& term, uint64_t want,
                      TermSteps* pinyin) const;
    // Sets the bit of every entry from `first` to `count` of `field` that `term` (folded for `kind`)
    // matches; returns how many. `pinyin` as for EntryMatches. `only`: when not null, only the entries
    // with their bit set in it are looked at. `entries` is sized for the field by the caller; `first` is a
    // multiple of 64, so that two threads may fill two ranges at once.
    size_t MatchTerm(Kind kind, const Field& field, const std::wstring& term, TermSteps* pinyin, size_t first,
                     size_t count, const std::vector<uint64_t>* only, std::vector<uint64_t>* entries) const;
    // Sets in `songs` the bit of every song whose entry of `field` has its bit set in `entries` (`matched`
    // of them) from the postings, and returns true, when they hold few songs; else false, and AddSongsOf
    // is the way.
    bool AddSongsByPostings(const Field& field, const std::vector<uint64_t>& entries, size_t matched,
                            std::vector<uint64_t>* songs) const;
    // The same by a pass over the songs of words [firstWord, lastWord) of `songs`, writing only those.
    void AddSongsOf(const Field& field, const std::vector<uint64_t>& entries, size_t firstWord, size_t lastWord,
                    std::vector<uint64_t>* songs) const;

    Tuning m_tuning;
    bool m_built = false;
    size_t m_songCount = 0;
    Field m_fields[4];                 // artist text, album name, title, extension
    Units m_units;                     // the units the fields' entries are made of
    std::vector<uint32_t> m_orders[kOrders];
};
