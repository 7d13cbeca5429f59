// Generator of large synthetic karaoke collections: an artist index (singer.csv) and a song index
// (Songs.csv) in code page 936, shaped like the files a karaoke shop's catalogue software exports.
//
//   - Artist names: mostly two to four Chinese characters, some Latin band or stage names, some mixed;
//     names are drawn so that about one in ten is shared by two or more artists.
//   - Song titles: two to ten Chinese characters, some with a Latin word or a "(Live)"-style suffix; a
//     large share comes from a pool of common titles, so many songs have equal names.
//   - Song lines have fifteen columns (the loader reads columns 1, 4, 9 and 13), paths like
//     "\mtv\<letter>\<artist>\<title>.dat", channel flags 1 or 2, and a few lines that name an artist id
//     missing from the artist index (the loader skips them).
//   - Lines end with CR LF, as files made on the shop's Windows machines do.
//
// Chinese text is produced directly as GB2312 level-1 byte pairs (lead 0xB0-0xD6, trail 0xA1-0xFE), so the
// generator needs no converter. Output is deterministic for a given seed. Header-only, so benchmarks, tools
// and tests can all include it; nothing here is thread-shared.
#pragma once

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace sinjo_bench {

struct CollectionSpec {
    int32_t songs = 100000;
    int32_t artists = 10000;
    uint32_t seed = 20260101;
};

class CollectionGenerator final {
public:
    explicit CollectionGenerator(const CollectionSpec& wanted) : m_spec(wanted), m_rng(wanted.seed) {
        MakeArtistNames();
        MakeTitlePool();
    }

    // The artist index, whole.
    std::string ArtistIndex() {
        std::string out;
        out.reserve(static_cast<size_t>(m_spec.artists) * 40 + 64);
        WriteArtists([&](const std::string& line) { out += line; });
        return out;
    }

    // The song index, whole.
    std::string SongIndex() {
        std::string out;
        out.reserve(static_cast<size_t>(m_spec.songs) * 120 + 128);
        WriteSongs([&](const std::string& line) { out += line; });
        return out;
    }

    // Writes "singer.csv" and "Songs.csv" into the native folder `dir` (which must exist), line by line so
    // that even a huge collection needs little memory. False when a file cannot be written.
    bool WriteFiles(const std::string& dir) {
        return WriteFile(dir + "/singer.csv", [&](auto sink) { WriteArtists(sink); }) &&
               WriteFile(dir + "/Songs.csv", [&](auto sink) { WriteSongs(sink); });
    }

    const std::vector<std::string>& ArtistNames() const { return m_artistNames; }

private:
    template <class Body>
    static bool WriteFile(const std::string& path, Body body) {
        FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr) return false;
        bool ok = true;
        body([&](const std::string& line) { ok = ok && std::fwrite(line.data(), 1, line.size(), f) == line.size(); });
        ok = std::fclose(f) == 0 && ok;
        return ok;
    }

    int Uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(m_rng); }
    bool Chance(int percent) { return Uniform(0, 99) < percent; }

    std::string Hanzi(int count) {
        std::string s;
        for (int i = 0; i < count; ++i) {
            s += static_cast<char>(Uniform(0xB0, 0xD6));
            s += static_cast<char>(Uniform(0xA1, 0xFE));
        }
        return s;
    }

    std::string LatinWord(int minLen, int maxLen) {
        std::string s;
        const int n = Uniform(minLen, maxLen);
        for (int i = 0; i < n; ++i) s += static_cast<char>((i == 0 ? 'A' : 'a') + Uniform(0, 25));
        return s;
    }

    std::string Spell(int letters) {
        std::string s;
        for (int i = 0; i < letters; ++i) s += static_cast<char>('A' + Uniform(0, 25));
        return s;
    }

    void MakeArtistNames() {
        // About 90% distinct names; the rest repeat an earlier name.
        const int32_t n = m_spec.artists;
        m_artistNames.reserve(static_cast<size_t>(n));
        for (int32_t i = 0; i < n; ++i) {
            if (i > 0 && Chance(10)) {
                m_artistNames.push_back(m_artistNames[static_cast<size_t>(Uniform(0, i - 1))]);
                continue;
            }
            const int kind = Uniform(0, 99);
            if (kind < 70) {
                m_artistNames.push_back(Hanzi(Uniform(2, 4)));
            } else if (kind < 90) {
                std::string name = LatinWord(3, 8);
                if (Chance(50)) name += " " + LatinWord(3, 7);
                m_artistNames.push_back(name);
            } else {
                m_artistNames.push_back(LatinWord(1, 3) + Hanzi(Uniform(1, 3)));
            }
        }
    }

    void MakeTitlePool() {
        for (int i = 0; i < 5000; ++i) m_titlePool.push_back(RandomTitle());
    }

    std::string RandomTitle() {
        std::string title = Hanzi(Uniform(2, 10));
        if (Chance(8)) title += " " + LatinWord(3, 8);
        if (Chance(5)) title += Chance(50) ? "(Live)" : "(DJ\xB0\xE6)";  // "(DJ版)"
        return title;
    }

    template <class Sink>
    void WriteArtists(Sink sink) {
        sink("SingerID,SingerName,Spell,Sex,Region\r\n");
        for (int32_t i = 0; i < m_spec.artists; ++i) {
            const std::string& name = m_artistNames[static_cast<size_t>(i)];
            std::string line = std::to_string(i + 1);
            line += ',';
            line += name;
            line += ',';
            line += Spell(Uniform(2, 4));
            line += ',';
            line += std::to_string(Chance(3) ? 0 : Uniform(1, 3));
            line += ',';
            line += std::to_string(Chance(3) ? 0 : Uniform(1, 3));
            line += "\r\n";
            sink(line);
        }
    }

    template <class Sink>
    void WriteSongs(Sink sink) {
        sink("SongID,SongName,Spell,WordCount,SingerID,SingerName,Language,Style,Year,Channel,Volume,"
             "Kind,Hits,Path,Remark\r\n");
        static const char* const kLanguages[] = {"\xB9\xFA\xD3\xEF", "\xD4\xC1\xD3\xEF", "\xD3\xA2\xD3\xEF"};
        static const char* const kExts[] = {".dat", ".avi", ".mpg", ".wmv", ".mp3"};
        for (int32_t i = 0; i < m_spec.songs; ++i) {
            const std::string title = Chance(60) ? m_titlePool[static_cast<size_t>(Uniform(0, 4999))]
                                                 : RandomTitle();
            // About 0.5% of lines name an artist that the artist index lacks.
            const int32_t artistId = Chance(1) && Chance(50) ? m_spec.artists + Uniform(1, 1000)
                                                             : Uniform(1, m_spec.artists);
            const std::string& artist =
                artistId <= m_spec.artists ? m_artistNames[static_cast<size_t>(artistId - 1)] : m_titlePool[0];
            std::string line = std::to_string(i + 1);
            line += ',';
            line += title;
            line += ',';
            line += Spell(Uniform(2, 8));
            line += ',';
            line += std::to_string(Uniform(2, 10));
            line += ',';
            line += std::to_string(artistId);
            line += ',';
            line += artist;
            line += ',';
            line += kLanguages[Uniform(0, 2)];
            line += ',';
            line += std::to_string(Uniform(0, 9));
            line += ',';
            line += std::to_string(Uniform(1980, 2025));
            line += ',';
            line += Chance(50) ? '1' : '2';
            line += ',';
            line += std::to_string(Uniform(50, 100));
            line += ',';
            line += std::to_string(Uniform(0, 3));
            line += ',';
            line += std::to_string(Uniform(0, 99999));
            line += ",\\mtv\\";
            line += static_cast<char>('A' + Uniform(0, 25));
            line += '\\';
            line += artist;
            line += '\\';
            line += title;
            line += kExts[Uniform(0, 4)];
            line += ',';
            if (Chance(10)) line += Hanzi(Uniform(1, 4));
            line += "\r\n";
            sink(line);
        }
    }

    CollectionSpec m_spec;
    std::mt19937 m_rng;
    std::vector<std::string> m_artistNames;  // GBK bytes, index = id - 1
    std::vector<std::string> m_titlePool;    // GBK bytes
};

}  // namespace sinjo_bench
