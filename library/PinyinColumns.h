// PinyinColumns: the pinyin columns of the index files (column 3 of singer.csv and Songs.csv: the initials
// of the name, such as "PY" for 朋友), kept while the catalogue loads so that the search index can use
// them. The loader fills it during Reload; SearchIndex::Build reads it; Reload empties it again.
//
// No lock of its own: used by the thread running Reload, under SongMan::lock.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct Artist;

class PinyinColumns final {
public:
    void Clear() {
        m_chars.clear();
        m_songEnds.clear();
        m_artists.clear();
    }

    // The column of song `id`. Songs are given in id order; a song skipped in between has none.
    void SetSong(int32_t id, std::string_view column) {
        if (id < 0) return;
        while (m_songEnds.size() < static_cast<size_t>(id)) m_songEnds.push_back(static_cast<uint32_t>(m_chars.size()));
        if (m_songEnds.size() != static_cast<size_t>(id)) return;  // out of order: ignored
        m_chars.append(column.substr(0, kMaxColumn));
        m_songEnds.push_back(static_cast<uint32_t>(m_chars.size()));
    }

    void SetArtist(const Artist* artist, std::string_view column) {
        m_artists[artist] = std::string(column.substr(0, kMaxColumn));
    }

    std::string_view Song(int32_t id) const {
        if (id < 0 || static_cast<size_t>(id) >= m_songEnds.size()) return {};
        const uint32_t begin = id == 0 ? 0 : m_songEnds[static_cast<size_t>(id) - 1];
        return std::string_view(m_chars).substr(begin, m_songEnds[static_cast<size_t>(id)] - begin);
    }

    std::string_view OfArtist(const Artist* artist) const {
        auto it = m_artists.find(artist);
        return it == m_artists.end() ? std::string_view() : std::string_view(it->second);
    }

private:
    // A column longer than any name the index lines can hold is not one.
    static constexpr size_t kMaxColumn = 255;

    std::string m_chars;                  // the song columns one after the other
    std::vector<uint32_t> m_songEnds;     // end of song id's column in m_chars
    std::unordered_map<const Artist*, std::string> m_artists;
};
