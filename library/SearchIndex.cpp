#include "library/SearchIndex.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <exception>
#include <numeric>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>

#include "library/PinyinColumns.h"
#include "library/PinyinPacker.h"
#include "library/SongMan.h"

using chinese_text::FoldForSearch;
using chinese_text::PinyinTerm;

namespace {

// ---- signatures ---------------------------------------------------------------------------------------

// One of 64 bits for a character: its own bit for each ASCII letter and digit (terms typed on a phone are
// mostly these), a shared one for everything else. An entry holds a term only if it has all the term's bits.
inline uint64_t CharBit(wchar_t c) {
    if (c >= L'a' && c <= L'z') return uint64_t{1} << (c - L'a');
    if (c >= L'0' && c <= L'9') return uint64_t{1} << (26 + (c - L'0'));
    const uint32_t h = static_cast<uint32_t>(c) * 0x9E3779B1u;
    return uint64_t{1} << (36 + (h >> 27) % 28);
}

inline uint64_t CharBits(std::wstring_view text) {
    uint64_t bits = 0;
    for (wchar_t c : text) bits |= CharBit(c);
    return bits;
}

// The first letter of a reading (a-z, 0-9) as a bit.
inline uint64_t InitialBit(char c) { return chinese_text::LetterBit(c); }

// The two bits of a letter pair in the 128-bit pair filter.
inline void PairBits(char a, char b, uint32_t* first, uint32_t* second) {
    chinese_text::PairFilterBits(a, b, first, second);
}

inline void SetBit(std::vector<uint64_t>& bits, size_t n) { bits[n >> 6] |= uint64_t{1} << (n & 63); }
inline bool TestBit(const std::vector<uint64_t>& bits, size_t n) { return (bits[n >> 6] >> (n & 63)) & 1; }

inline wchar_t FoldAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c; }

// ---- distinct texts ---------------------------------------------------------------------------------------

// Distinct (text, column) pairs, numbered in the order they are first added.
class TextTable final {
public:
    explicit TextTable(size_t expected) {
        size_t capacity = 64;
        while (capacity < expected * 2) capacity <<= 1;
        m_slots.assign(capacity, kEmpty);
        m_ends.reserve(expected);
    }

    // The number of the pair; `added` is set when it is new.
    uint32_t Add(std::wstring_view text, std::string_view column, bool* added) {
        uint64_t h = 1469598103934665603ull;
        for (wchar_t c : text) h = (h ^ static_cast<uint32_t>(c)) * 1099511628211ull;
        for (char c : column) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
        h ^= h >> 29;
        size_t at = static_cast<size_t>(h) & (m_slots.size() - 1);
        while (m_slots[at] != kEmpty) {
            const uint32_t n = m_slots[at];
            if (Text(n) == text && Column(n) == column) {
                *added = false;
                return n;
            }
            at = (at + 1) & (m_slots.size() - 1);
        }
        const uint32_t n = static_cast<uint32_t>(m_ends.size());
        m_text.append(text);
        m_columns.append(column);
        m_ends.push_back({static_cast<uint32_t>(m_text.size()), static_cast<uint32_t>(m_columns.size())});
        m_slots[at] = n;
        if (m_ends.size() * 2 > m_slots.size()) Grow();
        *added = true;
        return n;
    }

    size_t Count() const { return m_ends.size(); }
    std::wstring_view Text(uint32_t n) const {
        const uint32_t begin = n == 0 ? 0 : m_ends[n - 1].text;
        return std::wstring_view(m_text).substr(begin, m_ends[n].text - begin);
    }
    std::string_view Column(uint32_t n) const {
        const uint32_t begin = n == 0 ? 0 : m_ends[n - 1].column;
        return std::string_view(m_columns).substr(begin, m_ends[n].column - begin);
    }

private:
    static constexpr uint32_t kEmpty = UINT32_MAX;
    struct Ends {
        uint32_t text;
        uint32_t column;
    };

    void Grow() {
        std::vector<uint32_t> old;
        old.swap(m_slots);
        m_slots.assign(old.size() * 2, kEmpty);
        for (uint32_t n : old) {
            if (n == kEmpty) continue;
            uint64_t h = 1469598103934665603ull;
            for (wchar_t c : Text(n)) h = (h ^ static_cast<uint32_t>(c)) * 1099511628211ull;
            for (char c : Column(n)) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
            h ^= h >> 29;
            size_t at = static_cast<size_t>(h) & (m_slots.size() - 1);
            while (m_slots[at] != kEmpty) at = (at + 1) & (m_slots.size() - 1);
            m_slots[at] = n;
        }
    }

    std::vector<uint32_t> m_slots;
    std::wstring m_text;
    std::string m_columns;
    std::vector<Ends> m_ends;
};

// Numbers for records, in order of first appearance: an open-addressing table of pointers (the walk over
// the songs asks it once per song whose artist differs from the previous song's).
class PointerNumbers final {
public:
    explicit PointerNumbers(size_t expected) {
        size_t capacity = 64;
        while (capacity < expected * 2) capacity <<= 1;
        m_slots.assign(capacity, {nullptr, 0});
    }

    uint32_t Add(const void* p, bool* added) {
        size_t at = Hash(p) & (m_slots.size() - 1);
        while (m_slots[at].p != nullptr) {
            if (m_slots[at].p == p) {
                *added = false;
                return m_slots[at].n;
            }
            at = (at + 1) & (m_slots.size() - 1);
        }
        m_slots[at] = {p, m_count};
        *added = true;
        const uint32_t n = m_count++;
        if (static_cast<size_t>(m_count) * 2 > m_slots.size()) Grow();
        return n;
    }

private:
    struct Slot {
        const void* p;
        uint32_t n;
    };
    static size_t Hash(const void* p) {
        const uint64_t x = reinterpret_cast<uintptr_t>(p) * 0x9E3779B97F4A7C15ull;
        return static_cast<size_t>(x >> 20);
    }
    void Grow() {
        std::vector<Slot> old;
        old.swap(m_slots);
        m_slots.assign(old.size() * 2, {nullptr, 0});
        for (const Slot& slot : old) {
            if (slot.p == nullptr) continue;
            size_t at = Hash(slot.p) & (m_slots.size() - 1);
            while (m_slots[at].p != nullptr) at = (at + 1) & (m_slots.size() - 1);
            m_slots[at] = slot;
        }
    }

    std::vector<Slot> m_slots;
    uint32_t m_count = 0;
};

// Numbers for distinct pinyin units (the bytes of one unit's readings, each ended), in order of first
// appearance, kept in a SearchIndex's unit table. An open-addressing table whose slots hold each unit's
// length and first eight bytes: most units are no longer, so most lookups read one slot and no text.
class UnitNumbers final {
public:
    UnitNumbers(std::string* text, std::vector<uint32_t>* start) : m_text(*text), m_start(*start) {
        m_slots.assign(1u << 12, Slot{});
        for (uint32_t u = 0; u + 1 < m_start.size(); ++u) Place(u);
    }

    // `head` and `hash`: Head and Hash of the unit, worked out (and Prefetch called) by the caller a few
    // units ahead.
    uint32_t Add(std::string_view unit, uint64_t head, size_t hash) {
        const uint32_t length = static_cast<uint32_t>(unit.size());
        size_t at = hash & (m_slots.size() - 1);
        while (m_slots[at].unit != kEmpty) {
            const Slot& slot = m_slots[at];
            if (slot.head == head && slot.length == length && (length <= 8 || Unit(slot.unit) == unit)) return slot.unit;
            at = (at + 1) & (m_slots.size() - 1);
        }
        const uint32_t u = static_cast<uint32_t>(m_start.size() - 1);
        m_text.append(unit);
        m_start.push_back(static_cast<uint32_t>(m_text.size()));
        m_slots[at] = {head, length, u};
        if (m_start.size() * 2 > m_slots.size()) {
            m_slots.assign(m_slots.size() * 2, Slot{});
            for (uint32_t v = 0; v + 1 < m_start.size(); ++v) Place(v);
        }
        return u;
    }

    void Prefetch(size_t hash) const { __builtin_prefetch(&m_slots[hash & (m_slots.size() - 1)]); }

    // The unit's first eight bytes, zeros past its end. `unit` must be followed by at least eight readable
    // bytes (the caller's buffer is padded), so that this is one load, not a copy of a varying length.
    static uint64_t Head(std::string_view unit) {
        uint64_t head;
        std::memcpy(&head, unit.data(), 8);
        return unit.size() >= 8 ? head : head & ((uint64_t{1} << (unit.size() * 8)) - 1);
    }
    // Eight bytes at a time: a catalogue's texts hold over a million units.
    static size_t Hash(std::string_view unit, uint64_t head) {
        uint64_t h = (unit.size() * 0x9E3779B97F4A7C15ull ^ head) * 0xFF51AFD7ED558CCDull;
        for (size_t at = 8; at < unit.size(); at += 8) {
            uint64_t word = 0;
            std::memcpy(&word, unit.data() + at, std::min<size_t>(unit.size() - at, 8));
            h = (h ^ word) * 0xFF51AFD7ED558CCDull;
        }
        return static_cast<size_t>(h ^ (h >> 32));
    }

private:
    static constexpr uint32_t kEmpty = UINT32_MAX;
    struct Slot {
        uint64_t head = 0;  // the unit's first eight bytes, zeros past its end
        uint32_t length = 0;
        uint32_t unit = kEmpty;
    };
    std::string_view Unit(uint32_t u) const {
        return std::string_view(m_text).substr(m_start[u], m_start[u + 1] - m_start[u]);
    }
    void Place(uint32_t u) {
        const std::string_view unit = Unit(u);
        uint64_t head = 0;  // as Head, from a text that is not padded
        std::memcpy(&head, unit.data(), std::min<size_t>(unit.size(), 8));
        size_t at = Hash(unit, head) & (m_slots.size() - 1);
        while (m_slots[at].unit != kEmpty) at = (at + 1) & (m_slots.size() - 1);
        m_slots[at] = {head, static_cast<uint32_t>(unit.size()), u};
    }

    std::string& m_text;
    std::vector<uint32_t>& m_start;
    std::vector<Slot> m_slots;
};

// Runs `beside` on a helper thread while this thread runs `here`, and returns once both are done; what
// either threw is thrown here (the helper's first). Without a thread to be had, one after the other.
template <class Beside, class Here>
void RunBeside(Beside&& beside, Here&& here) {
    std::exception_ptr besideFailed;
    std::thread helper;
    try {
        helper = std::thread([&] {
            try {
                beside();
            } catch (...) {
                besideFailed = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
        beside();
        here();
        return;
    }
    std::exception_ptr hereFailed;
    try {
        here();
    } catch (...) {
        hereFailed = std::current_exception();
    }
    helper.join();
    if (besideFailed) std::rethrow_exception(besideFailed);
    if (hereFailed) std::rethrow_exception(hereFailed);
}

// ---- sorting by integer keys -----------------------------------------------------------------------------

// Sorts 64-bit keys by their bits from `low` up, eleven bits at a time from the lowest; a digit that is the
// same in every key is skipped. Stable: keys whose bits from `low` up are the same keep their order, so
// keys made with an ascending number in the bits below `low` come out as a full sort would give them.
void RadixSort(std::vector<uint64_t>& keys, uint32_t low) {
    constexpr uint32_t kDigitBits = 11;
    constexpr size_t kDigits = size_t{1} << kDigitBits;
    std::vector<uint64_t> other(keys.size());
    std::vector<size_t> counts(kDigits);
    for (uint32_t shift = low; shift < 64; shift += kDigitBits) {
        std::fill(counts.begin(), counts.end(), 0);
        for (uint64_t k : keys) ++counts[(k >> shift) & (kDigits - 1)];
        if (std::find(counts.begin(), counts.end(), keys.size()) != counts.end()) continue;
        size_t at = 0;
        for (size_t& c : counts) {
            const size_t n = c;
            c = at;
            at += n;
        }
        for (uint64_t k : keys) other[counts[(k >> shift) & (kDigits - 1)]++] = k;
        keys.swap(other);
    }
}

// A sort key's first eight bytes as a number, most significant first, zeros past its end: comparing two
// of these orders keys as comparing the keys does, except that equal numbers leave the order open.
uint64_t KeyPrefix(std::string_view key) {
    uint64_t prefix = 0;
    for (size_t k = 0; k < 8; ++k) prefix = (prefix << 8) | (k < key.size() ? static_cast<unsigned char>(key[k]) : 0u);
    return prefix;
}

uint32_t BitsFor(uint64_t largest) { return static_cast<uint32_t>(std::bit_width(largest)); }

// Ranks of items under a strict order: equal items (neither less) share a rank; ranks are dense from 0.
template <class Less, class Same>
std::vector<uint32_t> Ranks(size_t count, Less less, Same same) {
    std::vector<uint32_t> order(count);
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(), less);
    std::vector<uint32_t> rank(count);
    uint32_t r = 0;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0 && !same(order[i - 1], order[i])) ++r;
        rank[order[i]] = r;
    }
    return rank;
}

}  // namespace

void SearchIndex::Clear() {
    m_built = false;
    m_songCount = 0;
    for (Field& f : m_fields) f = Field();
    m_units = Units();
    for (auto& o : m_orders) {
        o.clear();
        o.shrink_to_fit();
    }
}

void SearchIndex::Build(const SongMan& man, const PinyinColumns& columns) {
    Clear();
    const size_t n = man.songs.size();

    // Numbers for the artists and albums the songs name, in order of first appearance.
    PointerNumbers artistNumbers(man.artists.size() + 16);
    std::vector<const Artist*> artists;
    PointerNumbers albumNumbers(man.albums.size() + 16);
    std::vector<const Album*> albums;
    std::vector<uint32_t> artistOf(n), albumOf(n);

    TextTable titles(std::min<size_t>(n, 1u << 22) / 2 + 16);
    TextTable artistTexts(man.artists.size() + 16);
    TextTable exts(16);
    std::vector<uint32_t> artistTextOfArtist;     // entry of an artist's own name, per artist number
    Field& artistField = m_fields[0];
    Field& albumField = m_fields[1];
    Field& titleField = m_fields[2];
    Field& extField = m_fields[3];
    for (Field& f : m_fields) f.songsOf.resize(n);

    // ---- the walk over the songs: titles on this thread, the other fields on a helper meanwhile ----
    // Each side reads the song records and writes only its own fields' members and locals. Both check that
    // the catalogue is one that Reload leaves (records present, ids their positions).
    auto valid = [&](size_t i) {
        const Song* s = man.songs[i];
        return s != nullptr && s->artist_ref != nullptr && s->album_ref != nullptr && s->id == static_cast<int32_t>(i);
    };
    // The records and their texts lie scattered over the heap: each side asks for a record sixteen songs
    // ahead, and for the texts it reads of the one eight ahead, whose record has arrived by then.
    auto prefetchRecord = [&](size_t i) {
        if (i + 16 < n) {
            const char* ahead = reinterpret_cast<const char*>(man.songs[i + 16]);
            for (int line = 0; line < 4; ++line) __builtin_prefetch(ahead + 64 * line);
        }
    };
    bool othersValid = true;
    auto walkOthers = [&] {
        const Artist* lastArtist = nullptr;
        uint32_t lastArtistNumber = 0;
        const Album* lastAlbum = nullptr;
        uint32_t lastAlbumNumber = 0;
        std::wstring_view lastExt;
        uint32_t lastExtEntry = UINT32_MAX;
        bool added = false;
        for (size_t i = 0; i < n; ++i) {
            prefetchRecord(i);
            if (i + 8 < n && man.songs[i + 8] != nullptr) {
                __builtin_prefetch(man.songs[i + 8]->artist.data());
                __builtin_prefetch(man.songs[i + 8]->artist_ref);
            }
            if (!valid(i)) {
                othersValid = false;
                return;
            }
            const Song* s = man.songs[i];
            if (s->artist_ref != lastArtist) {
                bool isNew = false;
                lastArtistNumber = artistNumbers.Add(s->artist_ref, &isNew);
                if (isNew) {
                    artists.push_back(s->artist_ref);
                    artistTextOfArtist.push_back(UINT32_MAX);
                }
                lastArtist = s->artist_ref;
            }
            artistOf[i] = lastArtistNumber;
            if (s->album_ref != lastAlbum) {
                bool isNew = false;
                lastAlbumNumber = albumNumbers.Add(s->album_ref, &isNew);
                if (isNew) albums.push_back(s->album_ref);
                lastAlbum = s->album_ref;
            }
            albumOf[i] = lastAlbumNumber;

            // Indexed songs show their artist's name: one entry per artist, with the artist index's column.
            uint32_t& own = artistTextOfArtist[lastArtistNumber];
            if (own != UINT32_MAX) {
                artistField.songsOf[i] = s->artist == s->artist_ref->name ? own
                                                                           : artistTexts.Add(s->artist, {}, &added);
            } else if (s->artist == s->artist_ref->name) {
                own = artistTexts.Add(s->artist, columns.OfArtist(s->artist_ref), &added);
                artistField.songsOf[i] = own;
            } else {
                artistField.songsOf[i] = artistTexts.Add(s->artist, {}, &added);
            }

            if (lastExtEntry == UINT32_MAX || s->ext != lastExt) {
                lastExtEntry = exts.Add(s->ext, {}, &added);
                lastExt = exts.Text(lastExtEntry);
            }
            extField.songsOf[i] = lastExtEntry;
        }
    };
    bool titlesValid = true;
    auto walkTitles = [&] {
        bool added = false;
        for (size_t i = 0; i < n; ++i) {
            prefetchRecord(i);
            if (i + 8 < n && man.songs[i + 8] != nullptr) {
                __builtin_prefetch(man.songs[i + 8]->name.data());
            }
            if (!valid(i)) {
                titlesValid = false;
                return;
            }
            const Song* s = man.songs[i];
            titleField.songsOf[i] = titles.Add(std::wstring_view(s->name), columns.Song(s->id), &added);
        }
    };
    RunBeside(walkOthers, walkTitles);
    if (!othersValid || !titlesValid) {
        Clear();
        return;  // not a catalogue as Reload leaves it: queries scan instead
    }
    for (size_t i = 0; i < n; ++i) albumField.songsOf[i] = albumOf[i];

    // ---- the orders, on a helper thread while this one makes the entries ----
    // The helper reads what the walk above made and writes only m_orders; the entries below write only
    // the fields' other members. Joined before Build returns, also when either side runs out of memory.
    auto makeOrders = [&] {
        // ---- the orders ----
        // Artists by name, then id, then record (order 0); by id, then record (orders 1 and 2).
        // The names' keys lie scattered over the heap: their first bytes are compared first, kept here.
        struct ArtistKey {
            uint64_t prefix;
            std::string_view key;
            int32_t id;
            const Artist* artist;
        };
        std::vector<ArtistKey> artistKeys;
        artistKeys.reserve(artists.size());
        for (const Artist* a : artists) artistKeys.push_back({KeyPrefix(a->sort_key), a->sort_key, a->id, a});
        const std::vector<uint32_t> artistByName = Ranks(
            artists.size(),
            [&](uint32_t x, uint32_t y) {
                const ArtistKey& a = artistKeys[x];
                const ArtistKey& b = artistKeys[y];
                if (a.prefix != b.prefix) return a.prefix < b.prefix;
                if (a.key != b.key) return a.key < b.key;
                if (a.id != b.id) return a.id < b.id;
                return std::less<const Artist*>()(a.artist, b.artist);
            },
            [](uint32_t x, uint32_t y) { return x == y; });
        const std::vector<uint32_t> artistById = Ranks(
            artists.size(),
            [&](uint32_t x, uint32_t y) {
                const ArtistKey& a = artistKeys[x];
                const ArtistKey& b = artistKeys[y];
                if (a.id != b.id) return a.id < b.id;
                return std::less<const Artist*>()(a.artist, b.artist);
            },
            [](uint32_t x, uint32_t y) { return x == y; });
        artistKeys.clear();
        artistKeys.shrink_to_fit();
        // Albums by name, then creation index (order 1); by creation index (orders 0 and 2).
        const std::vector<uint32_t> albumByName = Ranks(
            albums.size(),
            [&](uint32_t x, uint32_t y) {
                if (albums[x]->sort_key != albums[y]->sort_key) return albums[x]->sort_key < albums[y]->sort_key;
                return albums[x]->index < albums[y]->index;
            },
            [&](uint32_t x, uint32_t y) { return albums[x]->index == albums[y]->index; });
        const std::vector<uint32_t> albumByIndex = Ranks(
            albums.size(),
            [&](uint32_t x, uint32_t y) {
                if (albums[x]->index != albums[y]->index) return albums[x]->index < albums[y]->index;
                return std::less<const Album*>()(albums[x], albums[y]);
            },
            [&](uint32_t x, uint32_t y) { return albums[x]->index == albums[y]->index; });
        // Each title's code page 936 key (TextKey), one after another in one block.
        std::string keyBytes;
        std::vector<uint32_t> keyEnds(titles.Count());
        for (uint32_t t = 0; t < keyEnds.size(); ++t) {
            keyBytes += TextKey(titles.Text(t));
            keyEnds[t] = static_cast<uint32_t>(keyBytes.size());
        }
        const std::string_view allKeys(keyBytes);
        auto titleKey = [&](uint32_t t) {
            const uint32_t begin = t == 0 ? 0 : keyEnds[t - 1];
            return allKeys.substr(begin, keyEnds[t] - begin);
        };
        // Titles by their key (orders 0 and 1), and by key, then text (order 2): one sort for both. The
        // sort compares the keys' first eight bytes, kept beside each title, and reads the keys only when
        // those are the same.
        struct PrefixedTitle {
            uint64_t prefix;  // the key's first eight bytes, most significant first, zeros past its end
            uint32_t title;
        };
        std::vector<PrefixedTitle> byKey(titles.Count());
        for (uint32_t t = 0; t < byKey.size(); ++t) {
            byKey[t] = {KeyPrefix(titleKey(t)), t};
        }
        std::sort(byKey.begin(), byKey.end(), [&](const PrefixedTitle& x, const PrefixedTitle& y) {
            if (x.prefix != y.prefix) return x.prefix < y.prefix;
            if (titleKey(x.title) != titleKey(y.title)) return titleKey(x.title) < titleKey(y.title);
            return titles.Text(x.title) < titles.Text(y.title);
        });
        std::vector<uint32_t> titleByKey(byKey.size()), titleByText(byKey.size());
        uint32_t keyRank = 0, textRank = 0;
        for (size_t k = 0; k < byKey.size(); ++k) {
            if (k > 0) {
                const uint32_t x = byKey[k - 1].title, y = byKey[k].title;
                const bool sameKey = byKey[k - 1].prefix == byKey[k].prefix && titleKey(x) == titleKey(y);
                if (!sameKey) ++keyRank;
                if (!sameKey || titles.Text(x) != titles.Text(y)) ++textRank;
            }
            titleByKey[byKey[k].title] = keyRank;
            titleByText[byKey[k].title] = textRank;
        }
        byKey.clear();
        byKey.shrink_to_fit();
        keyBytes.clear();
        keyBytes.shrink_to_fit();
        keyEnds.clear();
        keyEnds.shrink_to_fit();
        const std::vector<uint32_t> extRank = Ranks(
            exts.Count(), [&](uint32_t x, uint32_t y) { return exts.Text(x) < exts.Text(y); },
            [&](uint32_t x, uint32_t y) { return exts.Text(x) == exts.Text(y); });

        auto largest = [](const std::vector<uint32_t>& v) -> uint64_t {
            return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
        };
        const uint32_t idBits = BitsFor(n);
        const uint32_t artistBits = BitsFor(largest(artistByName));
        const uint32_t albumBits = BitsFor(largest(albumByName));
        const uint32_t titleBits = BitsFor(largest(titleByText));
        const uint32_t extBits = BitsFor(largest(extRank));
        // Each order's keys, most significant first; the song id last makes every key unique, so the sorted
        // keys give exactly one order.
        auto makeOrder = [&](int order, auto fieldsOf) {
            uint32_t total = idBits;
            for (uint32_t b : fieldsOf(0, true)) total += b;
            // Too large to pack: this order is sorted by comparison when asked for.
            if (total > 64) return;
            std::vector<uint64_t> keys(n);
            for (size_t i = 0; i < n; ++i) {
                uint64_t k = 0;
                const auto values = fieldsOf(i, false);
                const auto widths = fieldsOf(0, true);
                for (size_t f = 0; f < values.size(); ++f) k = (k << widths[f]) | values[f];
                keys[i] = (k << idBits) | i;
            }
            RadixSort(keys, idBits);  // the ids below are ascending already
            std::vector<uint32_t>& ids = m_orders[order];
            ids.resize(n);
            const uint64_t mask = idBits >= 64 ? ~uint64_t{0} : (uint64_t{1} << idBits) - 1;
            for (size_t i = 0; i < n; ++i) ids[i] = static_cast<uint32_t>(keys[i] & mask);
        };
        using Three = std::array<uint64_t, 3>;
        makeOrder(0, [&](size_t i, bool widths) {
            if (widths) return Three{artistBits, albumBits, titleBits};
            return Three{artistByName[artistOf[i]], albumByIndex[albumOf[i]], titleByKey[titleField.songsOf[i]]};
        });
        makeOrder(1, [&](size_t i, bool widths) {
            if (widths) return Three{albumBits, artistBits, titleBits};
            return Three{albumByName[albumOf[i]], artistById[artistOf[i]], titleByKey[titleField.songsOf[i]]};
        });
        makeOrder(2, [&](size_t i, bool widths) {
            if (widths) return Three{titleBits, artistBits, albumBits};
            return Three{titleByText[titleField.songsOf[i]], artistById[artistOf[i]], albumByIndex[albumOf[i]]};
        });
        makeOrder(3, [&](size_t i, bool widths) {
            if (widths) return Three{extBits, 0, 0};
            return Three{extRank[extField.songsOf[i]], 0, 0};
        });
    };
    std::exception_ptr ordersFailed;
    std::thread orderThread;
    try {
        orderThread = std::thread([&] {
            try {
                makeOrders();
            } catch (...) {
                ordersFailed = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
        makeOrders();  // no thread to be had: one after the other
    }
    struct Joiner {
        std::thread& thread;
        ~Joiner() {
            if (thread.joinable()) thread.join();
        }
    } joiner{orderThread};

    // ---- the entries of each field ----
    chinese_text::PinyinPacker packer;
    UnitNumbers unitNumbers(&m_units.text, &m_units.start);
    std::string packed;
    struct Piece {
        size_t at;
        size_t length;
        uint64_t head;
        size_t hash;
    };
    std::vector<Piece> pieces;
    std::wstring py;
    auto fill = [&](Field& field, size_t count, auto textOf, auto columnOf, bool pinyin) {
        field.start.reserve(count + 1);
        field.chars.reserve(count);
        field.hasPinyin = pinyin;
        for (size_t e = 0; e < count; ++e) {
            const std::wstring_view text = textOf(e);
            field.start.push_back(static_cast<uint32_t>(field.text.size()));
            for (wchar_t c : text) field.text.push_back(FoldAscii(c));
            field.chars.push_back(CharBits(std::wstring_view(field.text).substr(field.start.back())));
            if (!pinyin) continue;
            py.assign(text);
            for (wchar_t& c : py) c = FoldForSearch(c);
            const std::wstring_view plain = std::wstring_view(field.text).substr(field.start.back());
            if (py == plain) {
                field.pyStart.push_back(kSame);
                field.pyChars.push_back(field.chars.back());
            } else {
                field.pyStart.push_back(static_cast<uint32_t>(field.pyText.size()));
                field.pyText.append(py);
                field.pyChars.push_back(CharBits(py));
            }
            packed.clear();
            const chinese_text::PinyinSignature sig = packer.Pack(py, columnOf(e), &packed);
            // Each unit ends with kEndOfUnit; bytes after the last one (there are none) could never match.
            // The text's units are cut out and their slots asked for first, then numbered.
            const std::string_view all(packed);
            pieces.clear();
            for (size_t at = 0, end; (end = all.find(chinese_text::PinyinUnits::kEndOfUnit, at)) != all.npos;
                 at = end + 1) {
                pieces.push_back({at, end - at, 0, 0});
            }
            packed.append(8, '\0');  // UnitNumbers::Head reads eight bytes
            for (Piece& piece : pieces) {
                const std::string_view unit(packed.data() + piece.at, piece.length);
                piece.head = UnitNumbers::Head(unit);
                piece.hash = UnitNumbers::Hash(unit, piece.head);
                unitNumbers.Prefetch(piece.hash);
            }
            for (const Piece& piece : pieces) {
                field.units.push_back(
                    unitNumbers.Add(std::string_view(packed.data() + piece.at, piece.length), piece.head, piece.hash));
            }
            field.unitsEnd.push_back(static_cast<uint32_t>(field.units.size()));
            field.initials.push_back(sig.initials);
            field.letters.push_back(sig.letters);
            field.pairs[0].push_back(sig.pairs[0]);
            field.pairs[1].push_back(sig.pairs[1]);
        }
        field.start.push_back(static_cast<uint32_t>(field.text.size()));
        field.units.shrink_to_fit();
    };
    fill(artistField, artistTexts.Count(), [&](size_t e) { return artistTexts.Text(static_cast<uint32_t>(e)); },
         [&](size_t e) { return artistTexts.Column(static_cast<uint32_t>(e)); }, true);
    artistField.comma.resize(artistTexts.Count());
    for (size_t e = 0; e < artistTexts.Count(); ++e) {
        artistField.comma[e] = artistTexts.Text(static_cast<uint32_t>(e)).find(L',') != std::wstring_view::npos;
    }
    fill(albumField, albums.size(), [&](size_t e) { return std::wstring_view(albums[e]->name); },
         [](size_t) { return std::string_view(); }, true);
    fill(titleField, titles.Count(), [&](size_t e) { return titles.Text(static_cast<uint32_t>(e)); },
         [&](size_t e) { return titles.Column(static_cast<uint32_t>(e)); }, true);
    fill(extField, exts.Count(), [&](size_t e) { return exts.Text(static_cast<uint32_t>(e)); },
         [](size_t) { return std::string_view(); }, false);

    // Each field's songs grouped by entry (a counting sort of songsOf), so that a term found in a few
    // entries reaches their songs without a pass over every song.
    for (Field& field : m_fields) {
        field.postingStart.assign(field.Count() + 1, 0);
        for (uint32_t e : field.songsOf) ++field.postingStart[e + 1];
        for (size_t e = 0; e < field.Count(); ++e) field.postingStart[e + 1] += field.postingStart[e];
        field.postings.resize(n);
        std::vector<uint32_t> at(field.postingStart.begin(), field.postingStart.end() - 1);
        for (size_t id = 0; id < n; ++id) field.postings[at[field.songsOf[id]]++] = static_cast<uint32_t>(id);
    }

    if (orderThread.joinable()) orderThread.join();
    if (ordersFailed) std::rethrow_exception(ordersFailed);
    m_songCount = n;
    m_built = true;
}

// The pinyin matching of PinyinTerm::Matches, worked out per unit of the index. Reading unit u from position p of the term (the first p letters read by the units before it) leads to
// the positions in row(u)[p]: p + l + 1 for every l letters of one of its readings that agree with the
// term from p on. A match starts at any unit and ends once a unit leads to position n (the term's
// length). Most units lead nowhere from any position (their readings begin with no letter of the term):
// they get no row and start the match afresh. Rows are worked out on a unit's first use, so a query pays
// only for the units of the entries its filters let through. Used by one thread.
class SearchIndex::TermSteps final {
public:
    TermSteps(const Units& units, const PinyinTerm& term) : m_units(units), m_term(term.Text()), m_n(m_term.size()) {
        for (size_t p = 0; p < m_n; ++p) m_positionsOf[static_cast<unsigned char>(m_term[p])] |= uint64_t{1} << p;
        m_rowOf.assign(units.Count(), kUnknown);
    }

    const std::string& Text() const { return m_term; }

    // Whether the term matches the units [begin, end): PinyinTerm::Matches on their packed form.
    bool Matches(const uint32_t* begin, const uint32_t* end) {
        const uint64_t done = uint64_t{1} << m_n;
        uint64_t from = 1;
        for (const uint32_t* u = begin; u < end; ++u) {
            uint32_t r = m_rowOf[*u];
            if (r == kUnknown) r = MakeRow(*u);
            if (r == kNoRow) {
                from = 1;
                continue;
            }
            const uint64_t* const row = m_steps.data() + static_cast<size_t>(r) * m_n;
            uint64_t next = 0;
            for (uint64_t bits = from; bits != 0; bits &= bits - 1) next |= row[__builtin_ctzll(bits)];
            if (next & done) return true;
            from = next | 1;
        }
        return false;
    }

private:
    static constexpr uint32_t kUnknown = UINT32_MAX;
    static constexpr uint32_t kNoRow = UINT32_MAX - 1;

    uint32_t MakeRow(uint32_t u) {
        const char* at = m_units.text.data() + m_units.start[u];
        const char* const end = m_units.text.data() + m_units.start[u + 1];
        const size_t row = m_steps.size();
        bool any = false;
        while (at < end) {
            const char* const reading = at;
            while (at < end && *at != chinese_text::PinyinUnits::kEndOfReading) ++at;
            const size_t length = static_cast<size_t>(at - reading);
            if (at < end) ++at;
            if (length == 0) continue;
            uint64_t starts = m_positionsOf[static_cast<unsigned char>(reading[0])];
            if (starts == 0) continue;
            if (!any) m_steps.resize(row + m_n, 0);
            any = true;
            for (; starts != 0; starts &= starts - 1) {
                const size_t p = static_cast<size_t>(__builtin_ctzll(starts));
                for (size_t l = 0; l < length && p + l < m_n && m_term[p + l] == reading[l]; ++l) {
                    m_steps[row + p] |= uint64_t{1} << (p + l + 1);
                }
            }
        }
        m_rowOf[u] = any ? static_cast<uint32_t>(row / m_n) : kNoRow;
        return m_rowOf[u];
    }

    const Units& m_units;
    std::string m_term;
    size_t m_n;
    uint64_t m_positionsOf[256] = {};  // per letter: the positions of the term that hold it
    std::vector<uint32_t> m_rowOf;     // per unit: its row, kNoRow, or kUnknown before its first use
    std::vector<uint64_t> m_steps;     // row r, position p: m_steps[r * n + p]
};

bool SearchIndex::EntryMatches(Kind kind, const Field& field, size_t e, const std::wstring& term, uint64_t want,
                               TermSteps* pinyin) const {
    const size_t length = field.start[e + 1] - field.start[e];
    if (kind == Kind::designed) {
        return (field.chars[e] & want) == want &&
               std::wstring_view(field.text.data() + field.start[e], length).find(term) != std::wstring_view::npos;
    }
    if ((field.pyChars[e] & want) == want) {
        const std::wstring_view text = field.pyStart[e] == kSame
                                           ? std::wstring_view(field.text.data() + field.start[e], length)
                                           : std::wstring_view(field.pyText.data() + field.pyStart[e], length);
        if (text.find(term) != std::wstring_view::npos) return true;
    }
    if (pinyin == nullptr) return false;
    const std::string& letters = pinyin->Text();
    if (letters.size() == 1) return (field.initials[e] & InitialBit(letters[0])) != 0;
    // The same two bit tests as MatchTerm's before the units are read.
    uint64_t termLetters = 0;
    for (char c : letters) termLetters |= InitialBit(c);
    if ((field.letters[e] & termLetters) != termLetters) return false;
    uint32_t x, y;
    PairBits(letters[0], letters[1], &x, &y);
    if (!((field.pairs[x >> 6][e] >> (x & 63)) & 1) || !((field.pairs[y >> 6][e] >> (y & 63)) & 1)) return false;
    return pinyin->Matches(field.UnitsBegin(e), field.UnitsEnd(e));
}

namespace {

// Calls check(e) for each entry e that `each` yields and cheap(e) lets through. The entries let through lie
// scattered over texts and units too large for the caches, so they are checked in batches: far(e) asks
// for the memory that tells where an entry's data lies some entries ahead, near(e) for the data itself a
// few entries ahead, so that check rarely waits for memory.
template <class Each, class Cheap, class Far, class Near, class Check>
inline __attribute__((always_inline)) void CheckInBatches(Each&& each, Cheap&& cheap, Far&& far, Near&& near,
                                                          Check&& check) {
    constexpr size_t kBatch = 256, kFar = 16, kNear = 8;
    uint32_t batch[kBatch];
    size_t size = 0;
    auto flush = [&] {
        for (size_t i = 0; i < std::min(size, kFar); ++i) far(batch[i]);
        for (size_t i = 0; i < std::min(size, kNear); ++i) near(batch[i]);
        for (size_t i = 0; i < size; ++i) {
            if (i + kFar < size) far(batch[i + kFar]);
            if (i + kNear < size) near(batch[i + kNear]);
            check(batch[i]);
        }
        size = 0;
    };
    // Without a branch on cheap(e), which lets through an unpredictable share of the entries.
    each([&](size_t e) __attribute__((always_inline)) {
        batch[size] = static_cast<uint32_t>(e);
        size += cheap(e) ? 1 : 0;
        if (size == kBatch) flush();
    });
    flush();
}

}  // namespace

size_t SearchIndex::MatchTerm(Kind kind, const Field& field, const std::wstring& term, TermSteps* pinyin,
                              size_t first, size_t count, const std::vector<uint64_t>* only,
                              std::vector<uint64_t>* entries) const {
    // Calls visit(e) for each entry to look at, in ascending order (inlined: it runs once per entry).
    auto each = [&](auto&& visit) __attribute__((always_inline)) {
        if (only == nullptr) {
            for (size_t e = first; e < count; ++e) visit(e);
            return;
        }
        for (size_t w = first / 64; w * 64 < count; ++w) {
            for (uint64_t bits = (*only)[w]; bits != 0; bits &= bits - 1) {
                const size_t e = w * 64 + static_cast<size_t>(__builtin_ctzll(bits));
                if (e >= count) return;
                visit(e);
            }
        }
    };
    size_t matched = 0;
    const uint64_t want = CharBits(term);
    auto farText = [&](uint32_t e) { __builtin_prefetch(&field.start[e]); };
    if (kind == Kind::designed) {
        CheckInBatches(
            each, [&](size_t e) { return (field.chars[e] & want) == want; }, farText,
            [&](uint32_t e) { __builtin_prefetch(field.text.data() + field.start[e]); },
            [&](uint32_t e) {
                const std::wstring_view text(field.text.data() + field.start[e], field.start[e + 1] - field.start[e]);
                if (text.find(term) != std::wstring_view::npos) {
                    SetBit(*entries, e);
                    ++matched;
                }
            });
        return matched;
    }

    auto pyTextOf = [&](size_t e) {
        const size_t length = field.start[e + 1] - field.start[e];
        return field.pyStart[e] == kSame ? std::wstring_view(field.text.data() + field.start[e], length)
                                         : std::wstring_view(field.pyText.data() + field.pyStart[e], length);
    };
    CheckInBatches(
        each, [&](size_t e) { return (field.pyChars[e] & want) == want; },
        [&](uint32_t e) {
            __builtin_prefetch(&field.start[e]);
            __builtin_prefetch(&field.pyStart[e]);
        },
        [&](uint32_t e) { __builtin_prefetch(pyTextOf(e).data()); },
        [&](uint32_t e) {
            if (pyTextOf(e).find(term) != std::wstring_view::npos) {
                SetBit(*entries, e);
                ++matched;
            }
        });
    if (pinyin == nullptr) return matched;
    const std::string& letters = pinyin->Text();
    if (letters.size() == 1) {
        // One letter matches exactly the texts with a reading that begins with it.
        const uint64_t bit = InitialBit(letters[0]);
        each([&](size_t e) __attribute__((always_inline)) {
            if ((field.initials[e] & bit) && !TestBit(*entries, e)) {
                SetBit(*entries, e);
                ++matched;
            }
        });
        return matched;
    }
    // Every letter of the term is a letter of some reading, and its first two letters begin a match:
    // these two bit tests pass over most entries before the units are read.
    uint64_t termLetters = 0;
    for (char c : letters) termLetters |= InitialBit(c);
    uint32_t x, y;
    PairBits(letters[0], letters[1], &x, &y);
    const uint64_t* const lists[2] = {field.pairs[0].data(), field.pairs[1].data()};
    CheckInBatches(
        each,
        [&](size_t e) {
            // Bitwise, not short-circuit: no branches.
            return ((field.letters[e] & termLetters) == termLetters) & ((lists[x >> 6][e] >> (x & 63)) & 1) &
                   ((lists[y >> 6][e] >> (y & 63)) & 1) & !TestBit(*entries, e);
        },
        [&](uint32_t e) { __builtin_prefetch(&field.unitsEnd[e == 0 ? 0 : e - 1]); },
        [&](uint32_t e) { __builtin_prefetch(field.UnitsBegin(e)); },
        [&](uint32_t e) {
            if (pinyin->Matches(field.UnitsBegin(e), field.UnitsEnd(e))) {
                SetBit(*entries, e);
                ++matched;
            }
        });
    return matched;
}

bool SearchIndex::AddSongsByPostings(const Field& field, const std::vector<uint64_t>& entries, size_t matched,
                                     std::vector<uint64_t>* songs) const {
    // Few entries: their songs from the postings. Many: one pass over the songs' entries (AddSongsOf),
    // which reads memory in order instead of jumping about.
    size_t postings = 0;
    const size_t cheap = m_songCount / 8;
    if (matched >= cheap) return false;
    for (size_t w = 0; w < entries.size() && postings <= cheap; ++w) {
        uint64_t bits = entries[w];
        while (bits != 0 && postings <= cheap) {
            const size_t e = w * 64 + static_cast<size_t>(__builtin_ctzll(bits));
            bits &= bits - 1;
            postings += field.postingStart[e + 1] - field.postingStart[e];
        }
    }
    if (postings > cheap) return false;
    for (size_t w = 0; w < entries.size(); ++w) {
        uint64_t bits = entries[w];
        while (bits != 0) {
            const size_t e = w * 64 + static_cast<size_t>(__builtin_ctzll(bits));
            bits &= bits - 1;
            for (uint32_t k = field.postingStart[e]; k < field.postingStart[e + 1]; ++k) {
                SetBit(*songs, field.postings[k]);
            }
        }
    }
    return true;
}

void SearchIndex::AddSongsOf(const Field& field, const std::vector<uint64_t>& entries, size_t firstWord,
                             size_t lastWord, std::vector<uint64_t>* songs) const {
    // Without branches: a term found in many entries makes the branch on each song unpredictable.
    const uint32_t* const entryOf = field.songsOf.data();
    const uint64_t* const entryBits = entries.data();
    uint64_t* const songBits = songs->data();
    const size_t n = m_songCount;
    for (size_t w = firstWord; w < lastWord; ++w) {
        const size_t first = w * 64;
        const size_t last = std::min(n, first + 64);
        uint64_t word = 0;
        for (size_t id = first; id < last; ++id) {
            const uint32_t e = entryOf[id];
            word |= ((entryBits[e >> 6] >> (e & 63)) & 1) << (id - first);
        }
        songBits[w] |= word;
    }
}

void SearchIndex::Match(Kind kind, const std::vector<std::wstring>& terms, bool duet,
                        std::vector<uint64_t>* hits) const {
    const size_t n = m_songCount;
    const size_t words = (n + 63) / 64;
    hits->assign(words, ~uint64_t{0});
    if (n % 64 != 0 && words > 0) (*hits)[words - 1] = (uint64_t{1} << (n % 64)) - 1;

    // Each distinct term once, folded the way its kind of search folds.
    std::vector<std::wstring> folded;
    for (const std::wstring& term : terms) {
        std::wstring f = term;
        for (wchar_t& c : f) c = kind == Kind::designed ? FoldAscii(c) : FoldForSearch(c);
        if (std::find(folded.begin(), folded.end(), f) == folded.end()) folded.push_back(std::move(f));
    }
    // The longest term first: it is likely to leave the fewest songs for the others.
    std::stable_sort(folded.begin(), folded.end(),
                     [](const std::wstring& a, const std::wstring& b) { return a.size() > b.size(); });
    const int fieldCount = kind == Kind::designed ? 4 : 3;
    std::vector<uint64_t> entryHits[4];
    std::vector<uint64_t> considered[4];
    std::vector<uint64_t> termHits;
    std::vector<uint8_t> known[4];  // per entry: 0 not looked at yet, 1 matches, 2 does not
    for (size_t t = 0; t < folded.size(); ++t) {
        const std::wstring& term = folded[t];
        PinyinTerm prepared;
        std::optional<TermSteps> steps;
        if (kind == Kind::pinyin && prepared.Prepare(term)) steps.emplace(m_units, prepared);
        TermSteps* const pinyin = steps ? &*steps : nullptr;
        const std::vector<uint64_t>* only[4] = {};  // per field: the entries to look at, or null: all
        bool narrowed = false;  // not so few songs are left: only they are looked up once the entries match
        if (t > 0) {
            size_t left = 0;
            for (uint64_t w : *hits) left += static_cast<size_t>(std::popcount(w));
            if (left <= n / 8 && left <= m_tuning.fewSongs) {
                // Few songs are left: look at their own entries only, each entry once.
                const uint64_t want = CharBits(term);
                for (int f = 0; f < fieldCount; ++f) known[f].assign(m_fields[f].Count(), 0);
                bool any = false;
                for (size_t w = 0; w < words; ++w) {
                    uint64_t bits = (*hits)[w];
                    while (bits != 0) {
                        const size_t id = w * 64 + static_cast<size_t>(__builtin_ctzll(bits));
                        bits &= bits - 1;
                        bool match = false;
                        for (int f = 0; f < fieldCount && !match; ++f) {
                            const Field& field = m_fields[f];
                            const uint32_t e = field.songsOf[id];
                            uint8_t& state = known[f][e];
                            if (state == 0) {
                                state = EntryMatches(kind, field, e, term, want, pinyin) ? 1 : 2;
                            }
                            match = state == 1;
                        }
                        if (match) any = true;
                        else (*hits)[w] &= ~(uint64_t{1} << (id & 63));
                    }
                }
                if (!any) break;  // no song is left for the other terms to keep
                continue;
            }
            if (left <= n / 4) {
                narrowed = true;
                // Not so few: the term is looked for only in the entries of the songs still left, in each
                // field with more entries than that (reading every left song's entry costs more than a
                // look at a field's few entries).
                for (int f = 0; f < fieldCount; ++f) {
                    if (m_fields[f].Count() <= left) continue;
                    const uint32_t* const entryOf = m_fields[f].songsOf.data();
                    considered[f].assign((m_fields[f].Count() + 63) / 64, 0);
                    for (size_t w = 0; w < words; ++w) {
                        for (uint64_t bits = (*hits)[w]; bits != 0; bits &= bits - 1) {
                            SetBit(considered[f], entryOf[w * 64 + static_cast<size_t>(__builtin_ctzll(bits))]);
                        }
                    }
                    only[f] = &considered[f];
                }
            }
        }
        // The term against every entry of each field. A large catalogue's titles are shared with a helper
        // thread: it takes the first of them (a whole number of words of entryHits[2]) with steps of its
        // own, this thread the other titles and the other fields.
        size_t matched[4] = {0, 0, 0, 0};
        size_t total = 0;
        for (int f = 0; f < fieldCount; ++f) {
            entryHits[f].assign((m_fields[f].Count() + 63) / 64, 0);
            total += m_fields[f].Count();
        }
        const size_t split = total >= m_tuning.sharedEntries ? std::min(m_fields[2].Count(), total / 2) / 64 * 64 : 0;
        size_t matchedBeside = 0;
        auto here = [&] {
            for (int f = 0; f < fieldCount; ++f) {
                const Field& field = m_fields[f];
                matched[f] = MatchTerm(kind, field, term, pinyin, f == 2 ? split : 0, field.Count(),
                                       only[f], &entryHits[f]);
            }
        };
        if (split == 0) {
            here();
        } else {
            RunBeside(
                [&] {
                    std::optional<TermSteps> own;
                    if (pinyin != nullptr) own.emplace(m_units, prepared);
                    matchedBeside = MatchTerm(kind, m_fields[2], term, own ? &*own : nullptr, 0, split,
                                              only[2], &entryHits[2]);
                },
                here);
        }
        matched[2] += matchedBeside;

        if (narrowed) {
            // A quarter of the songs at most are left: each keeps its bit when one of its entries matched,
            // which reads the entries of those songs only instead of passing over every song.
            int fields[4];
            int matchedFields = 0;
            for (int f = 0; f < fieldCount; ++f) {
                if (matched[f] != 0) fields[matchedFields++] = f;
            }
            bool left = false;
            for (size_t w = 0; w < words; ++w) {
                uint64_t keep = 0;
                for (uint64_t bits = (*hits)[w]; bits != 0; bits &= bits - 1) {
                    const size_t bit = static_cast<size_t>(__builtin_ctzll(bits));
                    const size_t id = w * 64 + bit;
                    uint64_t match = 0;
                    for (int k = 0; k < matchedFields; ++k) {
                        const uint32_t e = m_fields[fields[k]].songsOf[id];
                        match |= (entryHits[fields[k]][e >> 6] >> (e & 63)) & 1;
                    }
                    keep |= match << bit;
                }
                (*hits)[w] = keep;
                left = left || keep != 0;
            }
            if (!left) break;  // no song is left for the other terms to keep
            continue;
        }

        // Their songs: from the postings when few, else by a pass over every song, which a large catalogue
        // shares with a helper thread by halves of the songs (whole words of termHits).
        termHits.assign(words, 0);
        bool everything = false;
        bool any = false;
        int passes[4];
        int passCount = 0;
        for (int f = 0; f < fieldCount; ++f) {
            if (matched[f] == 0) continue;
            any = true;
            // Every song has an entry of each field: all matched, every song matches.
            if (matched[f] == m_fields[f].Count()) everything = true;
            else if (!AddSongsByPostings(m_fields[f], entryHits[f], matched[f], &termHits)) passes[passCount++] = f;
        }
        if (everything) continue;
        auto pass = [&](size_t firstWord, size_t lastWord) {
            for (int k = 0; k < passCount; ++k) {
                AddSongsOf(m_fields[passes[k]], entryHits[passes[k]], firstWord, lastWord, &termHits);
            }
        };
        if (passCount > 0 && n >= m_tuning.sharedSongs) {
            RunBeside([&] { pass(0, words / 2); }, [&] { pass(words / 2, words); });
        } else if (passCount > 0) {
            pass(0, words);
        }
        if (!any) {
            std::fill(hits->begin(), hits->end(), 0);
            break;
        }
        bool left = false;
        for (size_t w = 0; w < words; ++w) {
            (*hits)[w] &= termHits[w];
            left = left || (*hits)[w] != 0;
        }
        if (!left) break;  // no song is left for the other terms to keep
    }
    if (duet) {
        const Field& artist = m_fields[0];
        for (size_t id = 0; id < n; ++id) {
            if (artist.comma[artist.songsOf[id]]) SetBit(*hits, id);
        }
    }
}

void SearchIndex::InOrder(int order, const std::vector<uint64_t>& hits, size_t found, Song* const* sorted,
                          Song* const* byId, std::vector<Song*>* result) const {
    const std::vector<uint32_t>& ids = m_orders[order];
    const uint64_t* const bits = hits.data();
    auto hit = [bits](uint32_t id) { return (bits[id >> 6] >> (id & 63)) & 1; };
    // Few hits: only the ids are read (a third of what reading the songs too costs), then the hits' songs
    // are looked up; many: the sorted songs are read beside the ids, so that no song is looked up. Either
    // way every position is written and only a hit moves on (no mispredicted branches when half the songs
    // match); a pass stops once it has all `found` hits, so its buffer holds found + 1. Returns how many.
    const bool few = found < ids.size() / 16;
    auto pass = [&](size_t first, size_t last, uint32_t* outIds, Song** outSongs) {
        const uint32_t* const orderIds = ids.data();
        size_t k = 0;
        if (few) {
            for (size_t i = first; k < found && i < last; ++i) {
                outIds[k] = orderIds[i];
                k += hit(orderIds[i]);
            }
        } else {
            for (size_t i = first; k < found && i < last; ++i) {
                outSongs[k] = sorted[i];
                k += hit(orderIds[i]);
            }
        }
        return k;
    };
    const size_t n = ids.size();
    result->resize(found + 1);
    std::vector<uint32_t> idsHere(few ? found + 1 : 0);
    std::vector<uint32_t> idsBeside;
    std::vector<Song*> songsBeside;
    size_t foundHere = 0;
    size_t foundBeside = 0;
    if (n >= m_tuning.sharedSongs && found > 0) {
        // The first half of the order here, straight into the result; the second beside, into buffers of
        // the helper's own that are copied after the first half's songs.
        const size_t half = n / 2;
        RunBeside(
            [&] {
                (few ? idsBeside.resize(found + 1) : songsBeside.resize(found + 1));
                foundBeside = pass(half, n, idsBeside.data(), songsBeside.data());
            },
            [&] { foundHere = pass(0, half, idsHere.data(), result->data()); });
    } else {
        foundHere = pass(0, n, idsHere.data(), result->data());
    }
    result->resize(found);
    Song** const out = result->data();
    if (few) {
        for (size_t k = 0; k < foundHere; ++k) out[k] = byId[idsHere[k]];
        for (size_t k = 0; k < foundBeside; ++k) out[foundHere + k] = byId[idsBeside[k]];
    } else if (foundBeside > 0) {
        std::memcpy(out + foundHere, songsBeside.data(), foundBeside * sizeof(Song*));
    }
}

size_t SearchIndex::MemoryBytes() const {
    size_t bytes = 0;
    for (const Field& f : m_fields) {
        bytes += f.text.capacity() * sizeof(wchar_t) + f.pyText.capacity() * sizeof(wchar_t) +
                 (f.start.capacity() + f.pyStart.capacity() + f.songsOf.capacity()) *
                     sizeof(uint32_t) +
                 (f.chars.capacity() + f.pyChars.capacity() + f.initials.capacity() + f.pairs[0].capacity() +
                  f.pairs[1].capacity()) *
                     sizeof(uint64_t) +
                 (f.units.capacity() + f.unitsEnd.capacity() + f.postingStart.capacity() + f.postings.capacity()) *
                     sizeof(uint32_t) +
                 f.letters.capacity() * sizeof(uint64_t) + f.comma.capacity();
    }
    bytes += m_units.text.capacity() + m_units.start.capacity() * sizeof(uint32_t);
    for (const auto& o : m_orders) bytes += o.capacity() * sizeof(uint32_t);
    return bytes;
}
