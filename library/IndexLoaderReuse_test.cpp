// Index loading checked against a plain line-by-line reading of the same bytes (each line converted whole,
// then split), on random hostile index files; and repeated reloads over a full catalogue, which refill the
// old records, checked against fresh catalogues.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "core/Globals.h"
#include "core/Settings.h"
#include "library/SongMan.h"
#include "platform/CodePage.h"

namespace fs = std::filesystem;

namespace {

void WriteBytes(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// ---- the reference: one line at a time, converted whole, split on the wide text --------------------------

std::vector<std::wstring> ReferenceLines(const std::string& file) {
    std::string text;  // text mode: a carriage return before a line feed is dropped
    for (size_t i = 0; i < file.size(); ++i) {
        if (file[i] == '\r' && i + 1 < file.size() && file[i + 1] == '\n') continue;
        text += file[i];
    }
    std::vector<std::wstring> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t length = std::min<size_t>(258, text.size() - at);
        const size_t lf = text.find('\n', at);
        if (lf != std::string::npos && lf < at + length) length = lf - at + 1;
        std::string piece = text.substr(at, length);
        at += length;
        piece = piece.substr(0, piece.find('\0'));
        lines.push_back(platform::MultiByteToWide(platform::CP_GBK, piece));
    }
    return lines;
}

std::vector<std::wstring> ReferenceFields(const std::wstring& line) {
    std::vector<std::wstring> fields;
    std::wstring current;
    for (wchar_t c : line) {
        if (c == L',' || c == L'"') {
            if (!current.empty()) fields.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) fields.push_back(current);
    return fields;
}

std::wstring NoLineFeed(std::wstring text) {
    if (!text.empty() && text.back() == L'\n') text.pop_back();
    return text;
}

int32_t ReferenceNumber(const std::wstring& text) {
    const long long value = std::wcstoll(text.c_str(), nullptr, 10);
    return static_cast<int32_t>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

struct ExpectedSong {
    std::wstring name, artist, path, ext;
    int32_t audio_type;
    int32_t artist_id;
};

std::vector<ExpectedSong> ReferenceSongs(const std::string& singer, const std::string& songIndex) {
    std::map<int32_t, std::wstring> artists;
    for (const std::wstring& line : ReferenceLines(singer)) {
        const auto f = ReferenceFields(line);
        if (f.size() < 5 || ReferenceNumber(f[0]) < 1) continue;
        artists[ReferenceNumber(f[0])] = NoLineFeed(f[1]);
    }
    std::vector<ExpectedSong> songs;
    const auto lines = ReferenceLines(songIndex);
    for (size_t i = 1; i < lines.size(); ++i) {
        const auto f = ReferenceFields(lines[i]);
        if (f.size() < 14) continue;
        const auto artist = artists.find(ReferenceNumber(f[4]));
        if (artist == artists.end()) continue;
        std::wstring path = NoLineFeed(f[13]);
        std::wstring ext;
        const size_t cut = path.find_last_of(L".\\/");
        if (cut != std::wstring::npos && path[cut] == L'.') ext = path.substr(cut + 1);
        for (wchar_t& c : ext) c = (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
        if (path.starts_with(L"\\mtv\\")) path.erase(0, 5);
        songs.push_back({NoLineFeed(f[1]), artist->second, path, ext,
                         ReferenceNumber(f[9]) == 1 ? left_karaoke : right_karaoke, artist->first});
    }
    return songs;
}

// ---- random hostile index files ------------------------------------------------------------------------

class HostileText {
public:
    explicit HostileText(uint32_t seed) : m_rng(seed) {}

    int Uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(m_rng); }

    // A column's bytes: words, Chinese, broken double-byte characters, quotes, spaces, the odd zero byte.
    std::string Column() {
        std::string s;
        const int parts = Uniform(0, 4);
        for (int i = 0; i < parts; ++i) {
            switch (Uniform(0, 9)) {
                case 0: s += "\x81"; break;                       // a lead byte alone
                case 1: s += "\xFF\x80"; break;                   // bytes that are no character
                case 2: s += "\"q,"; break;                       // separators inside a column
                case 3: s += " \t"; break;
                case 4: s += "\xC4\xE3\xBA\xC3"; break;           // two Chinese characters
                case 5: s += "\\mtv\\"; break;
                case 6: s += ".AvI"; break;
                case 7: s += Uniform(0, 30) == 0 ? std::string(1, '\0') : std::string("?"); break;
                case 8: s += std::string(static_cast<size_t>(Uniform(1, 120)), 'x'); break;
                default: s += std::to_string(Uniform(-3, 12)); break;
            }
        }
        return s;
    }

    std::string Line(int columns, int idColumn, int maxId) {
        std::string line;
        for (int c = 0; c < columns; ++c) {
            if (c > 0) line += Uniform(0, 8) == 0 ? ",," : ",";
            if (c == idColumn) {
                line += (Uniform(0, 5) == 0 ? " " : "") + std::to_string(Uniform(-1, maxId));
            } else if (c == 9 && Uniform(0, 1) == 0) {
                line += Uniform(0, 1) ? "1" : "2";
            } else {
                line += Column();
            }
        }
        line += Uniform(0, 3) == 0 ? "\r\n" : "\n";
        return line;
    }

private:
    std::mt19937 m_rng;
};

class LoaderEquivalenceTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern =
            (fs::path(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") / "reuseXXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        index = dir / "index";
        settings.Set(L"setting:MtvIndexDir", platform::FromUtf8(index.string()));
        settings.Load();
        g_settings = &settings;
    }
    void TearDown() override {
        g_settings = nullptr;
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    void Write(const std::string& singer, const std::string& songIndex) {
        WriteBytes(index / "singer.csv", singer);
        WriteBytes(index / "Songs.csv", songIndex);
    }

    fs::path dir;
    fs::path index;
    Settings settings{L"SinjoReuseTest"};
};

void ExpectSongs(const SongMan& man, const std::vector<ExpectedSong>& expected, const char* what) {
    ASSERT_EQ(man.songs.size(), expected.size()) << what;
    for (size_t i = 0; i < expected.size(); ++i) {
        const Song* s = man.songs[i];
        EXPECT_EQ(s->name, expected[i].name) << what << " song " << i;
        EXPECT_EQ(s->artist, expected[i].artist) << what << " song " << i;
        EXPECT_EQ(s->path, expected[i].path) << what << " song " << i;
        EXPECT_EQ(s->ext, expected[i].ext) << what << " song " << i;
        EXPECT_EQ(s->audio_type, expected[i].audio_type) << what << " song " << i;
        EXPECT_EQ(s->artist_ref->id, expected[i].artist_id) << what << " song " << i;
        EXPECT_TRUE(s->full_path.empty()) << what << " song " << i;
        EXPECT_EQ(s->id, static_cast<int32_t>(i));
    }
}

TEST_F(LoaderEquivalenceTest, HostileFilesLoadAsLineByLineReadingDoes) {
    for (uint32_t seed = 1; seed <= 12; ++seed) {
        HostileText gen(seed);
        std::string singer, songIndex = "header,line\n";
        for (int i = 0; i < 60; ++i) singer += gen.Line(gen.Uniform(3, 7), 0, 40);
        for (int i = 0; i < 400; ++i) songIndex += gen.Line(gen.Uniform(13, 17), 4, 45);
        Write(singer, songIndex);
        SongMan man;
        ASSERT_TRUE(man.Reload());
        const auto expected = ReferenceSongs(singer, songIndex);
        EXPECT_GT(expected.size(), 10u) << "the files must hold loadable lines to compare";
        ExpectSongs(man, expected, ("seed " + std::to_string(seed)).c_str());
        for (const Artist* a : man.artists) EXPECT_EQ(a->sort_key, TextKey(a->name)) << a->id;
    }
}

TEST_F(LoaderEquivalenceTest, ALargeSongIndexLoadsAsLineByLineReadingDoes) {
    // Many times the lines that the reader thread hands over at once, so that every chunk is filled and
    // used more than once.
    HostileText gen(99);
    std::string singer, songIndex = "header,line\r\n";
    for (int i = 0; i < 200; ++i) singer += gen.Line(5, 0, 40);
    for (int i = 0; i < 90000; ++i) songIndex += gen.Line(gen.Uniform(14, 16), 4, 45);
    Write(singer, songIndex);
    SongMan man;
    ASSERT_TRUE(man.Reload());
    const auto expected = ReferenceSongs(singer, songIndex);
    EXPECT_GT(expected.size(), 5u * 2048u);  // more chunks than circulate: each is refilled
    ExpectSongs(man, expected, "large index");
}

TEST_F(LoaderEquivalenceTest, ReloadsOverAFullCatalogueMatchFreshLoads) {
    // Three catalogues of different sizes and texts, and a user folder that only some of them scan, loaded
    // in turn into one SongMan (whose old records are refilled) and each into a fresh one.
    struct Version {
        std::string singer, songIndex;
        bool scan;
    };
    std::vector<Version> versions;
    for (uint32_t seed : {21u, 22u, 23u}) {
        HostileText gen(seed);
        Version v;
        for (int i = 0; i < 40; ++i) v.singer += gen.Line(5, 0, 30);
        v.songIndex = "header\n";
        const int lines = seed == 22 ? 80 : 400;  // the middle one is smaller: leftovers are deleted
        for (int i = 0; i < lines; ++i) v.songIndex += gen.Line(15, 4, 30);
        v.scan = seed != 21;
        versions.push_back(v);
    }
    WriteBytes(dir / "user" / "Singer-Album" / "Title.mp3", "x");
    WriteBytes(dir / "user" / "A, B - Duet.avi", "x");

    auto snapshot = [](const SongMan& man) {
        std::vector<std::wstring> rows;
        for (const Song* s : man.songs) {
            rows.push_back(std::to_wstring(s->id) + L"|" + s->name + L"|" + s->artist + L"|" + s->path + L"|" +
                           s->full_path + L"|" + s->ext + L"|" + std::to_wstring(s->audio_type) + L"|" +
                           s->album_ref->name + L"|" + s->artist_ref->name);
        }
        for (const Artist* a : man.artists) rows.push_back(a->name + L"#" + std::to_wstring(a->song_count));
        for (const Album* a : man.albums) rows.push_back(a->name + L"@" + std::to_wstring(a->song_count));
        return rows;
    };

    SongMan reused;
    for (size_t round = 0; round < 6; ++round) {
        const Version& v = versions[round % versions.size()];
        Write(v.singer, v.songIndex);
        settings.Set(L"setting:UserMtvRootDir", v.scan ? platform::FromUtf8((dir / "user").string()) : L"");
        ASSERT_TRUE(reused.Reload());
        SongMan fresh;
        ASSERT_TRUE(fresh.Reload());
        EXPECT_EQ(snapshot(reused), snapshot(fresh)) << "round " << round;
        EXPECT_TRUE(reused.reusable_songs.empty());
        // Indexed songs share their artist's name rather than holding copies of it.
        for (const SongMan* man : {&reused, &fresh}) {
            for (const Song* s : man->songs) {
                if (!s->full_path.empty() || s->artist.empty()) continue;
                EXPECT_TRUE(s->artist.SharesWith(s->artist_ref->name)) << "round " << round << " song " << s->id;
            }
        }
    }

    // A failed reload (no song index) leaves artists only, and the next one fills the catalogue again.
    fs::remove(index / "Songs.csv");
    EXPECT_FALSE(reused.Reload());
    EXPECT_TRUE(reused.songs.empty());
    EXPECT_TRUE(reused.reusable_songs.empty());
    Write(versions[0].singer, versions[0].songIndex);
    settings.Set(L"setting:UserMtvRootDir", L"");
    ASSERT_TRUE(reused.Reload());
    ExpectSongs(reused, ReferenceSongs(versions[0].singer, versions[0].songIndex), "after a failed reload");
}

}  // namespace
