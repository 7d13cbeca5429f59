// PinyinColumns: the pinyin columns of the index files (column 3 of singer.csv and Songs.csv: the initials
// of the name, such as "PY" for 朋友), kept while the catalogue loads so that the search index can use
// them. The loader fills it during Reload; SearchIndex::Build reads it; Reload empties it again.
//
// No lock of its own: filled by the thread running Reload, under SongMan::lock, then handed whole to the
// search index builder, which seals it and reads it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

struct Artist;

class PinyinColumns final {
public:
    void Clear() {
        m_chars.clear();
        m_songEnds.clear();
        m_artistChars.clear();
        m_artists.clear();
        m_artistsSorted = true;
    }

    // The column of song `id`. Songs are given in id order; a song skipped in between has none.
    void SetSong(int32_t id, std::string_view column) {
        if (id < 0) return;
        while (m_songEnds.size() < static_cast<size_t>(id)) m_songEnds.push_back(static_cast<uint32_t>(m_chars.size()));
        if (m_songEnds.size() != static_cast<size_t>(id)) return;  // out of order: ignored
        m_chars.append(column.substr(0, kMaxColumn));
        m_songEnds.push_back(static_cast<uint32_t>(m_chars.size()));
    }

    // The column of an artist record; a later call for the same record wins.
    void SetArtist(const Artist* artist, std::string_view column) {
        const uint32_t begin = static_cast<uint32_t>(m_artistChars.size());
        m_artistChars.append(column.substr(0, kMaxColumn));
        if (!m_artists.empty() && std::less<const Artist*>()(artist, m_artists.back().artist)) m_artistsSorted = false;
        m_artists.push_back({artist, begin, static_cast<uint32_t>(m_artistChars.size())});
    }

    // Readies the artists' columns for OfArtist: sorts them by record (a later call for a record first).
    // Call once all are set; OfArtist before it still answers, by a search through all of them.
    void Seal() {
        if (m_artistsSorted) return;
        std::stable_sort(m_artists.begin(), m_artists.end(), [](const ArtistColumn& a, const ArtistColumn& b) {
            return std::less<const Artist*>()(a.artist, b.artist);
        });
        m_artistsSorted = true;
    }

    std::string_view Song(int32_t id) const {
        if (id < 0 || static_cast<size_t>(id) >= m_songEnds.size()) return {};
        const uint32_t begin = id == 0 ? 0 : m_songEnds[static_cast<size_t>(id) - 1];
        return std::string_view(m_chars).substr(begin, m_songEnds[static_cast<size_t>(id)] - begin);
    }

    std::string_view OfArtist(const Artist* artist) const {
        const ArtistColumn* found = nullptr;
        if (m_artistsSorted) {
            // The last of the records' equal run: the latest call.
            auto it = std::upper_bound(m_artists.begin(), m_artists.end(), artist, [](const Artist* a, const ArtistColumn& c) {
                return std::less<const Artist*>()(a, c.artist);
            });
            if (it != m_artists.begin() && std::prev(it)->artist == artist) found = &*std::prev(it);
        } else {
            for (auto it = m_artists.rbegin(); it != m_artists.rend() && found == nullptr; ++it) {
                if (it->artist == artist) found = &*it;
            }
        }
        return found == nullptr ? std::string_view() : std::string_view(m_artistChars).substr(found->begin, found->end - found->begin);
    }

private:
    // A column longer than any name the index lines can hold is not one.
    static constexpr size_t kMaxColumn = 255;

    std::string m_chars;                  // the song columns one after the other
    std::vector<uint32_t> m_songEnds;     // end of song id's column in m_chars
    // The artists' columns one after another, and which record each belongs to: in the order set, and
    // by record once sealed (artists are made in index order, which is mostly address order as well).
    struct ArtistColumn {
        const Artist* artist;
        uint32_t begin;
        uint32_t end;
    };
    std::string m_artistChars;
    std::vector<ArtistColumn> m_artists;
    bool m_artistsSorted = true;
};
