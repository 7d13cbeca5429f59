// Catalogue loading against real files in a per-test folder: index lines, the user folder scan, artist
// linking and pruning, Reload's reset, and hostile input.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

#include "core/Globals.h"
#include "core/Settings.h"
#include "bench/CollectionGenerator.h"
#include "library/SongMan.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"

namespace fs = std::filesystem;

namespace {

// A byte string from a literal that may hold zero bytes.
template <size_t N>
std::string Bytes(const char (&literal)[N]) {
    return std::string(literal, N - 1);
}

std::string Gbk(const std::wstring& text) { return platform::WideToMultiByte(platform::CP_GBK, text); }
std::wstring W(const fs::path& p) { return platform::FromUtf8(p.string()); }

void WriteBytes(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A song index line of fifteen columns; column 13 is the path, column 14 a remark.
std::string SongLine(const std::string& title, const std::string& artistId, const std::string& channel,
                     const std::string& path, const std::string& remark = "end", const char* eol = "\n") {
    return "1," + title + ",PY,2," + artistId + ",singer,lang,0,1999," + channel + ",80,1,0," + path + "," +
           remark + eol;
}

const char* const kSongHeader = "ID,Name,Spell,Words,SingerID,Singer,Lang,Style,Year,Channel,Vol,Kind,Hits,Path,Remark\n";

class CatalogueTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern =
            (fs::path(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") / "catXXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        index = dir / "index";
        settings.Set(L"setting:MtvIndexDir", W(index));
        settings.Set(L"setting:MtvRootDir", L"C:\\Mtv");
        settings.Set(L"setting:NaduMtvRootDir", L"C:\\NaduMtv");
        settings.Load();
        g_settings = &settings;
    }
    void TearDown() override {
        g_settings = nullptr;
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    void WriteArtists(const std::string& bytes) { WriteBytes(index / "singer.csv", bytes); }
    void WriteSongs(const std::string& bytes) { WriteBytes(index / "Songs.csv", bytes); }

    static std::vector<std::wstring> Names(const std::vector<Song*>& songs) {
        std::vector<std::wstring> names;
        for (const Song* s : songs) names.push_back(s->name);
        return names;
    }

    // The invariants every completed load must keep.
    static void ExpectInvariants(SongMan& man) {
        int32_t albumTotal = 0;
        for (size_t i = 0; i < man.songs.size(); ++i) {
            const Song* s = man.songs[i];
            EXPECT_EQ(s->id, static_cast<int32_t>(i));
            ASSERT_NE(s->album_ref, nullptr);
            ASSERT_NE(s->artist_ref, nullptr);
            EXPECT_NE(std::find(man.albums.begin(), man.albums.end(), s->album_ref), man.albums.end());
            EXPECT_NE(std::find(man.artists.begin(), man.artists.end(), s->artist_ref), man.artists.end());
        }
        for (const Album* a : man.albums) {
            const auto count = std::count_if(man.songs.begin(), man.songs.end(),
                                             [&](const Song* s) { return s->album_ref == a; });
            EXPECT_EQ(a->song_count, count) << a->name;
            albumTotal += a->song_count;
            EXPECT_EQ(a->sort_key, TextKey(a->name));
        }
        EXPECT_EQ(albumTotal, static_cast<int32_t>(man.songs.size()));
        for (size_t i = 1; i < man.albums.size(); ++i) {
            EXPECT_FALSE(TextLess()(man.albums[i]->dir, man.albums[i - 1]->dir)) << "albums sorted by dir";
        }
        for (const Artist* a : man.artists) {
            EXPECT_GE(a->song_count, 1) << a->name;
            EXPECT_LE(a->id, man.max_artist_id);
            EXPECT_EQ(a->sort_key, TextKey(a->name)) << a->name;
        }
        for (const auto& [name, a] : man.artists_by_name) {
            EXPECT_NE(std::find(man.artists.begin(), man.artists.end(), a), man.artists.end()) << name;
        }
        for (const auto& [id, a] : man.artists_by_id) {
            EXPECT_NE(std::find(man.artists.begin(), man.artists.end(), a), man.artists.end()) << id;
        }
    }

    fs::path dir;
    fs::path index;
    Settings settings{L"SinjoCatalogueTest"};
};

TEST_F(CatalogueTest, ArtistIndexLines) {
    WriteArtists(
        "SingerID,SingerName,Spell,Sex,Region\n"
        "1,Alice,AL,2,1\n"
        "0,Zero,Z,1,1\n"
        "-4,Negative,N,1,1\n"
        "x7,NotANumber,B,1,1\n"
        "  7,Seven,S,1,3\n"
        "8,TooShort,S,1\n"
        "3,,,Carol,,C,3,2\n"          // empty columns do not count
        "4,\"Dan, Jr\",DJ,1,1\n"      // quotes do not protect the comma
        "5,Eve,E,9,-2\n"              // codes kept as read
        "9,Alice,A2,1,1\n"            // same name: the map takes the later line
        "5,Eve Two,E,1,1\r\n"         // same id: the map takes the later line
        "\n"
        "12," + Gbk(L"张学友") + ",ZXY,1,2\n" +
        "13,\x81\xFF" "bad,X,1,1\n" +           // not valid code page 936
        Bytes("14,Nul\0Name,X,1,1\n") +          // text ends at the zero byte: too few fields
        "6,Last,L,1,2");                        // no line feed at the end
    SongMan man;
    ASSERT_TRUE(man.LoadArtists(W(index) + L"\\singer.csv"));

    std::vector<std::wstring> names;
    for (const Artist* a : man.artists) names.push_back(a->name);
    const std::wstring bad = man.artists.size() > 8 ? man.artists[8]->name : L"";
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Alice", L"Seven", L"Carol", L"Dan", L"Eve", L"Alice",
                                                L"Eve Two", L"张学友", bad, L"Last"}));
    EXPECT_NE(bad.find(L'?'), std::wstring::npos);
    EXPECT_TRUE(bad.ends_with(L"bad"));
    EXPECT_EQ(man.max_artist_id, 13);

    const Artist* seven = man.artists[1];
    EXPECT_EQ(seven->id, 7);
    EXPECT_EQ(seven->region, 3);
    const Artist* carol = man.artists[2];
    EXPECT_EQ(carol->category, 3);
    EXPECT_EQ(carol->region, 2);
    const Artist* dan = man.artists[3];
    EXPECT_EQ(dan->category, 0);  // field 3 is "DJ" once the quoted comma splits the name
    EXPECT_EQ(dan->region, 1);
    EXPECT_EQ(man.artists[4]->category, 9);
    EXPECT_EQ(man.artists[4]->region, -2);
    EXPECT_EQ(man.artists.back()->region, 2);

    EXPECT_EQ(man.artists_by_name.at(L"Alice")->id, 9);
    EXPECT_EQ(man.artists_by_id.at(5)->name, L"Eve Two");
    EXPECT_EQ(man.artists_by_id.count(14), 0u);
    for (const Artist* a : man.artists) EXPECT_EQ(a->sort_key, TextKey(a->name)) << a->name;
}

TEST_F(CatalogueTest, SongIndexLines) {
    WriteArtists("1,Bob,B,1,1\n2,Amy,A,2,1\n3,Unused,U,1,1\n");
    WriteSongs(std::string(kSongHeader) +
               SongLine("Plain", "1", "1", "\\mtv\\a\\Plain.AVI") +
               "2,,Empty Cols,PY,,3,2,singer,,lang,0,1999,0,80,1,0,\\mtv\\b.dat,end\n" +
               "3,\"Hello, World\",3,1,s,l,0,1999,2,80,1,0,\\MTV\\C.mp3,end\n" +
               SongLine("NoFlag", "2", "x", "\\mtv\\d.wmv") +
               SongLine("Two", "2", "2", "e\\mtv\\e.rmvb") +
               SongLine("Orphan", "77", "1", "\\mtv\\f.avi") +
               "7,Thirteen,PY,2,1,s,l,0,1999,1,80,1,0\n" +
               "8,LastPath,PY,2,2,s,l,0,1999,1,80,1,0,\\mtv\\last.WMV\n" +
               "9,Crlf,PY,2,1,s,l,0,1999,1,80,1,0,\\mtv\\crlf.avi\r\n" +
               "10,NoExt,PY,2,1,s,l,0,1999,1,80,1,0,\\mtv\\dir.x\\noext\n");
    SongMan man;
    ASSERT_TRUE(man.Reload());

    struct Expected {
        const wchar_t* name;
        const wchar_t* artist;
        const wchar_t* path;
        const wchar_t* ext;
        int32_t audio_type;
    } expected[] = {
        {L"Plain", L"Bob", L"a\\Plain.AVI", L"avi", left_karaoke},
        {L"Empty Cols", L"Amy", L"b.dat", L"dat", right_karaoke},
        {L"Hello", L"Bob", L"\\MTV\\C.mp3", L"mp3", right_karaoke},
        {L"NoFlag", L"Amy", L"d.wmv", L"wmv", right_karaoke},
        {L"Two", L"Amy", L"e\\mtv\\e.rmvb", L"rmvb", right_karaoke},
        {L"LastPath", L"Amy", L"last.WMV", L"wmv", left_karaoke},
        {L"Crlf", L"Bob", L"crlf.avi", L"avi", left_karaoke},
        {L"NoExt", L"Bob", L"dir.x\\noext", L"", left_karaoke},
    };
    ASSERT_EQ(man.songs.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        const Song* s = man.songs[i];
        EXPECT_EQ(s->name, expected[i].name);
        EXPECT_EQ(s->artist, expected[i].artist) << expected[i].name;
        EXPECT_EQ(s->artist_ref->name, expected[i].artist) << expected[i].name;
        EXPECT_EQ(s->path, expected[i].path) << expected[i].name;
        EXPECT_EQ(s->ext, expected[i].ext) << expected[i].name;
        EXPECT_EQ(s->audio_type, expected[i].audio_type) << expected[i].name;
        EXPECT_TRUE(s->full_path.empty());
    }

    ASSERT_EQ(man.albums.size(), 1u);
    EXPECT_EQ(man.albums[0]->name, L"VOD");
    EXPECT_EQ(man.albums[0]->dir, L"VOD");
    EXPECT_EQ(man.albums[0]->kind, index_album);
    EXPECT_EQ(man.albums[0]->song_count, 8);
    EXPECT_TRUE(man.albums_by_name.empty());
    EXPECT_EQ(man.artists_by_id.at(1)->song_count, 4);
    EXPECT_EQ(man.artists_by_id.at(2)->song_count, 4);
    EXPECT_EQ(man.artists_by_id.count(3), 0u);  // no songs: pruned
    ExpectInvariants(man);

    // Load times reach the settings as decimal milliseconds.
    for (const wchar_t* key : {L"perf:LoadArtists", L"perf:LoadVodMtvIndex"}) {
        const std::wstring value = settings.Get(key, L"unset");
        EXPECT_FALSE(value.empty());
        EXPECT_EQ(value.find_first_not_of(L"0123456789"), std::wstring::npos) << key << "=" << value;
    }
    EXPECT_EQ(settings.Get(L"perf:LoadUserMtvIndex", L"unset"), L"unset");
}

TEST_F(CatalogueTest, MissingAndEmptyIndexFiles) {
    const std::string artists = "1,Bob,B,1,1\n";
    const std::string songs = std::string(kSongHeader) + SongLine("Song", "1", "1", "\\mtv\\s.avi");
    WriteBytes(dir / "user" / "Someone-Title.mp3", "x");
    settings.Set(L"setting:UserMtvRootDir", W(dir / "user"));

    struct Case {
        const char* what;
        const std::string* singer;  // null: no file
        const std::string* songIndex;
        bool result;
        size_t artists;
        size_t albums;
        size_t songs;
    };
    const std::string empty;
    const std::string headerOnly = kSongHeader;
    const Case cases[] = {
        {"no index folder", nullptr, nullptr, false, 0, 0, 0},
        {"no artist index", nullptr, &songs, false, 0, 0, 0},
        {"no song index", &artists, nullptr, false, 1, 0, 0},  // artists stay; the user folder is not scanned
        {"empty files", &empty, &empty, true, 1, 2, 1},         // VOD + the scanned file's folder album
        {"header-only song index", &artists, &headerOnly, true, 1, 2, 1},
    };
    for (const Case& c : cases) {
        std::error_code ec;
        fs::remove_all(index, ec);
        if (c.singer || c.songIndex) fs::create_directories(index);
        if (c.singer) WriteArtists(*c.singer);
        if (c.songIndex) WriteSongs(*c.songIndex);
        SongMan man;
        EXPECT_EQ(man.Reload(), c.result) << c.what;
        EXPECT_EQ(man.artists.size(), c.artists) << c.what;
        EXPECT_EQ(man.albums.size(), c.albums) << c.what;
        EXPECT_EQ(man.songs.size(), c.songs) << c.what;
        if (c.result) {
            const Album* vod = *std::find_if(man.albums.begin(), man.albums.end(),
                                             [](const Album* a) { return a->kind == index_album; });
            EXPECT_EQ(vod->song_count, 0) << c.what;
            ExpectInvariants(man);
        }
    }
}

TEST_F(CatalogueTest, LinesLongerThanAPiece) {
    WriteArtists("1,Bob,B,1,1\n"
                 "2," + std::string(300, 'N') + ",X,1,1\n");  // read as two pieces, neither a valid artist
    // A line of exactly 258 bytes without a line feed is a piece of its own, so the line glued to it is
    // read as the next line.
    std::string first = SongLine("First", "1", "1", "\\mtv\\first.avi", "", "");
    first += std::string(258 - first.size(), 'r');
    ASSERT_EQ(first.size(), 258u);
    // 257 bytes, then CR LF: the carriage return is dropped, the line feed ends the same piece.
    std::string third = "3,Third,PY,2,1,s,l,0,1999,1,80,1,0,\\mtv\\";
    third += std::string(257 - third.size() - 4, 't') + ".avi";
    ASSERT_EQ(third.size(), 257u);
    // 259 bytes with the line feed: the lone line feed left over is an empty line of its own.
    std::string fourth = SongLine("Fourth", "1", "2", "\\mtv\\fourth.avi", "", "");
    fourth += std::string(258 - fourth.size(), 'q') + "\n";
    ASSERT_EQ(fourth.size(), 259u);
    WriteSongs(std::string(kSongHeader) + first + SongLine("Second", "1", "1", "\\mtv\\second.avi") +
               third + "\r\n" + fourth + SongLine("Fifth", "1", "1", "\\mtv\\fifth.avi"));

    SongMan man;
    ASSERT_TRUE(man.Reload());
    EXPECT_EQ(Names(man.songs), (std::vector<std::wstring>{L"First", L"Second", L"Third", L"Fourth", L"Fifth"}));
    ASSERT_EQ(man.songs.size(), 5u);
    EXPECT_EQ(man.songs[2]->path, platform::FromUtf8(third.substr(third.find("\\mtv\\") + 5)));
    EXPECT_EQ(man.songs[2]->ext, L"avi");
    EXPECT_EQ(man.artists.size(), 1u);
    ExpectInvariants(man);
}

TEST_F(CatalogueTest, HostileSongLinesNeverStopTheLoad) {
    WriteArtists("1,Bob,B,1,1\n");
    std::string junk;
    junk += SongLine("\x81\x20\xFE\xFF\x80" + Gbk(L"歌"), "1", "1", "\\mtv\\bad.avi");  // invalid bytes
    junk += "\n\n,,,,,,,,,,,,,,,,\n\"\"\"\n";
    // A zero byte ends the text of its line, which then lacks the later columns.
    junk += SongLine(Bytes("Nul\0Cut"), "1", "1", "\\mtv\\nul.avi");
    junk += Bytes("9,Zero,PY,2,1,s,l,0,1999,1,80,1,0,\\mtv\\z.avi\0tail\n");
    junk += SongLine("Huge", "99999999999999999999", "1", "\\mtv\\h.avi");  // saturates: no such artist
    junk += SongLine("Neg", "-1", "1", "\\mtv\\n.avi");
    junk += SongLine(Gbk(L"好歌"), " 1", "1", "\\mtv\\" + Gbk(L"好歌") + ".avi");
    WriteSongs(std::string(kSongHeader) + junk);

    SongMan man;
    ASSERT_TRUE(man.Reload());
    ASSERT_EQ(Names(man.songs).size(), 3u);
    EXPECT_NE(man.songs[0]->name.find(L'?'), std::wstring::npos);
    EXPECT_TRUE(man.songs[0]->name.ends_with(L"歌"));
    EXPECT_EQ(man.songs[1]->name, L"Zero");
    EXPECT_EQ(man.songs[1]->path, L"z.avi");
    EXPECT_EQ(man.songs[2]->name, L"好歌");
    EXPECT_EQ(man.songs[2]->path, L"好歌.avi");
    ExpectInvariants(man);
}

TEST(SplitTitleTest, ArtistAlbumAndSongFromNames) {
    struct Case {
        const wchar_t* folder;
        const wchar_t* title;
        const wchar_t* artist;
        const wchar_t* album;
        const wchar_t* song;
    } cases[] = {
        {L"Album", L"Artist-Title", L"Artist", L"Album", L"Title"},
        {L"Artist-Album", L"Title", L"Artist", L"Album", L"Title"},
        {L"Misc", L"Title", L"Misc", L"Misc", L"Title"},
        {L"F", L"A - B", L"A ", L"F", L"B"},
        {L"F", L"A-B-C", L"A", L"F", L"B-C"},
        {L"F", L"张三－月亮", L"张三", L"F", L"月亮"},
        {L"F", L"A-B－C", L"A", L"F", L"B－C"},        // ASCII hyphen first
        {L"F", L"Title-", L"F", L"F", L"Title-"},      // nothing after the hyphen: the folder decides
        {L"李四－专辑", L"Song-", L"李四", L"专辑", L"Song-"},
        {L"Dash-", L"Song", L"Dash-", L"Dash-", L"Song"},
        {L"F", L"-Title", L"", L"F", L"Title"},
        {L"F", L" \t Title \r", L"F", L"F", L"Title"},  // only the song name is trimmed
        {L"", L"", L"", L"", L""},
    };
    for (const Case& c : cases) {
        std::wstring artist, album, song;
        SongMan::SplitTitle(c.folder, c.title, &artist, &album, &song);
        EXPECT_EQ(artist, c.artist) << c.folder << " / " << c.title;
        EXPECT_EQ(album, c.album) << c.folder << " / " << c.title;
        EXPECT_EQ(song, c.song) << c.folder << " / " << c.title;
    }
}

TEST_F(CatalogueTest, UserFoldersJoinTheCatalogue) {
    WriteArtists("1,Bob,B,1,1\n3,Alice,AL,2,1\n9,Ghost,G,1,1\n");
    WriteSongs(std::string(kSongHeader) + SongLine("Indexed", "1", "1", "\\mtv\\i.avi"));
    const fs::path u1 = dir / "u1";
    const fs::path u2 = dir / "u2";
    WriteBytes(u1 / "Alice-Album1" / "Song A.mp3", "x");
    WriteBytes(u1 / "Misc" / "Carol-Song B.MP3", "x");
    WriteBytes(u1 / "Misc" / "readme.txt", "x");
    WriteBytes(u1 / "Misc" / "noext", "x");
    WriteBytes(u2 / "Duets" / "甲，乙-对唱.wmv", "x");
    WriteBytes(u2 / "Duets" / "Dave, Erin-Two.avi", "x");
    settings.Set(L"setting:UserMtvRootDir", W(u1) + L";;" + W(u2) + L";");

    SongMan man;
    ASSERT_TRUE(man.Reload());
    ExpectInvariants(man);
    ASSERT_EQ(man.songs.size(), 5u);
    EXPECT_EQ(man.songs[0]->name, L"Indexed");
    // Roots are walked in the order given: the first root's files come first.
    std::set<std::wstring> firstRoot{man.songs[1]->name, man.songs[2]->name};
    std::set<std::wstring> secondRoot{man.songs[3]->name, man.songs[4]->name};
    EXPECT_EQ(firstRoot, (std::set<std::wstring>{L"Song A", L"Song B"}));
    EXPECT_EQ(secondRoot, (std::set<std::wstring>{L"对唱", L"Two"}));

    auto song = [&](const std::wstring& name) {
        return *std::find_if(man.songs.begin(), man.songs.end(), [&](const Song* s) { return s->name == name; });
    };
    const Song* a = song(L"Song A");
    EXPECT_EQ(a->artist, L"Alice");
    EXPECT_EQ(a->artist_ref, man.artists_by_id.at(3));  // joins the indexed artist, with its category
    EXPECT_EQ(a->artist_ref->category, 2);
    EXPECT_EQ(a->album_ref->name, L"Album1");
    EXPECT_EQ(a->full_path, W(u1) + L"\\Alice-Album1\\Song A.mp3");
    EXPECT_EQ(man.GetSongFilePath(a), a->full_path);
    EXPECT_TRUE(a->path.empty());
    std::wstring type;
    ASSERT_EQ(SongMan::GetSongProperty(a, L"audio_type", &type), SongMan::PropertyResult::ok);
    EXPECT_EQ(type, L"unknown");

    const Song* b = song(L"Song B");
    EXPECT_EQ(b->artist, L"Carol");
    EXPECT_EQ(b->ext, L"mp3");
    EXPECT_EQ(b->album_ref->name, L"Misc");
    EXPECT_EQ(b->album_ref->kind, folder_album);

    // Duets: the shown text stays whole; the first name is the primary artist; both count the song.
    const Song* duet = song(L"对唱");
    EXPECT_EQ(duet->artist, L"甲，乙");
    EXPECT_EQ(duet->artist_ref->name, L"甲");
    EXPECT_EQ(man.artists_by_name.at(L"乙")->song_count, 1);
    const Song* two = song(L"Two");
    EXPECT_EQ(two->artist, L"Dave, Erin");
    EXPECT_EQ(two->artist_ref->name, L"Dave");
    EXPECT_EQ(man.artists_by_name.at(L"Erin")->song_count, 1);
    EXPECT_EQ(man.artists_by_name.count(L"Dave, Erin"), 0u);

    // The artist without songs is gone; new artists take ids above every index id, pruned ones included.
    EXPECT_EQ(man.artists_by_name.count(L"Ghost"), 0u);
    EXPECT_EQ(man.artists_by_id.count(9), 0u);
    std::set<int32_t> newIds;
    for (const wchar_t* name : {L"Carol", L"甲", L"乙", L"Dave", L"Erin"}) {
        newIds.insert(man.artists_by_name.at(name)->id);
    }
    EXPECT_EQ(newIds, (std::set<int32_t>{10, 11, 12, 13, 14}));
    EXPECT_EQ(man.max_artist_id, 14);
    EXPECT_EQ(man.artists.size(), 7u);

    // Albums: sorted by dir in catalogue text order; only folder albums are looked up by name.
    std::vector<std::wstring> albumNames;
    for (const Album* album : man.albums) albumNames.push_back(album->name);
    EXPECT_EQ(albumNames, (std::vector<std::wstring>{L"Album1", L"Duets", L"Misc", L"VOD"}));
    EXPECT_EQ(man.albums_by_name.size(), 3u);
    EXPECT_EQ(man.albums[3]->index, 0);  // VOD was created first

    const std::wstring perf = settings.Get(L"perf:LoadUserMtvIndex", L"unset");
    EXPECT_EQ(perf.find_first_not_of(L"0123456789"), std::wstring::npos) << perf;
}

TEST_F(CatalogueTest, FoldersSortInCodePageOrder) {
    WriteArtists("1,Bob,B,1,1\n");
    WriteSongs(kSongHeader);
    for (const wchar_t* folder : {L"乙", L"甲", L"abc", L"Zed", L"阿"}) {
        WriteBytes(dir / "u" / fs::path(platform::ToUtf8(std::wstring(L"X-") + folder)) / "t.mp3", "x");
    }
    settings.Set(L"setting:UserMtvRootDir", W(dir / "u"));
    SongMan man;
    ASSERT_TRUE(man.Reload());
    std::vector<std::wstring> dirs;
    for (const Album* album : man.albums) dirs.push_back(album->dir);
    EXPECT_EQ(dirs, (std::vector<std::wstring>{L"VOD", L"Zed", L"abc", L"阿", L"甲", L"乙"}));
}

TEST_F(CatalogueTest, DuetTextsMadeOnlyOfSeparatorsStillGetAnArtist) {
    SongMan man;
    Song song;
    song.artist = L", ，";
    man.LinkArtists(&song);
    ASSERT_NE(song.artist_ref, nullptr);
    EXPECT_EQ(song.artist_ref->name, L", ，");
    EXPECT_EQ(song.artist_ref->song_count, 1);

    Song again;
    again.artist = L"A,A";  // the same name twice counts twice, as written
    man.LinkArtists(&again);
    EXPECT_EQ(again.artist_ref->name, L"A");
    EXPECT_EQ(again.artist_ref->song_count, 2);
    EXPECT_EQ(man.artists.size(), 2u);
}

TEST_F(CatalogueTest, NewArtistIdsNeverOverflow) {
    WriteArtists("1,One,O,1,1\n2147483647,Top,T,1,1\n3,Three,T,1,1\n");
    SongMan man;
    ASSERT_TRUE(man.LoadArtists(W(index) + L"\\singer.csv"));
    EXPECT_EQ(man.max_artist_id, INT32_MAX);
    EXPECT_EQ(man.FindArtist(L"New")->id, 2);  // the lowest free id
    EXPECT_EQ(man.FindArtist(L"Newer")->id, 4);
    EXPECT_EQ(man.FindArtist(L"New")->id, 2);  // found again, not made twice
    EXPECT_EQ(man.artists.size(), 5u);
}

TEST_F(CatalogueTest, PruningKeepsTheLaterArtistOfADuplicateReachable) {
    // Two index lines share a name; only the later one has songs.
    WriteArtists("1,Same,S,1,1\n2,Same,S,2,2\n3,Other,O,1,1\n3,Another,A,1,1\n");
    WriteSongs(std::string(kSongHeader) + SongLine("One", "2", "1", "\\mtv\\1.avi") +
               SongLine("Two", "3", "1", "\\mtv\\2.avi"));
    SongMan man;
    ASSERT_TRUE(man.Reload());
    ASSERT_EQ(man.artists.size(), 2u);
    EXPECT_EQ(man.artists_by_name.at(L"Same")->id, 2);
    EXPECT_EQ(man.artists_by_id.at(3)->name, L"Another");
    EXPECT_EQ(man.artists_by_name.count(L"Other"), 0u);
    ExpectInvariants(man);
}

TEST_F(CatalogueTest, SongsLinkTheLaterOfTwoArtistsSharingAnId) {
    // Close ids (the loader's lookup is a table) and ids far apart (a sorted list).
    for (const char* shared : {"3", "2000000000"}) {
        WriteArtists(std::string("1,One,O,1,1\n") + shared + ",Earlier,E,1,1\n" + shared + ",Later,L,1,1\n" +
                     "-7,Negative,N,1,1\n");
        WriteSongs(std::string(kSongHeader) + SongLine("A", shared, "1", "\\mtv\\a.avi") +
                   SongLine("B", "1", "1", "\\mtv\\b.avi") + SongLine("C", "4", "1", "\\mtv\\c.avi"));
        SongMan man;
        ASSERT_TRUE(man.Reload());
        ASSERT_EQ(man.songs.size(), 2u) << shared;  // "C" names no artist
        EXPECT_EQ(man.songs[0]->artist, L"Later") << shared;
        EXPECT_EQ(man.songs[1]->artist, L"One") << shared;
        EXPECT_EQ(man.artists_by_id.at(std::atoi(shared))->name, L"Later") << shared;
        ExpectInvariants(man);
    }
}

TEST_F(CatalogueTest, ReloadStartsOver) {
    WriteArtists("1,Bob,B,1,1\n");
    WriteSongs(std::string(kSongHeader) + SongLine("A", "1", "1", "\\mtv\\a.avi") +
               SongLine("B", "1", "1", "\\mtv\\b.avi"));
    SongMan man;
    EXPECT_TRUE(man.sorted_song_lists.empty());
    ASSERT_TRUE(man.Reload());
    man.queue = {man.songs[1], man.songs[0]};
    man.current_song = man.songs[1];
    man.sorted_song_lists[2] = new std::vector<Song*>(man.songs.begin(), man.songs.end());
    man.song_query_cache.Insert(L"q", new std::vector<Song*>{man.songs[0]});
    man.artist_query_cache.Insert(L"f", new std::vector<Artist*>{man.artists[0]});

    WriteSongs(std::string(kSongHeader) + SongLine("C", "1", "1", "\\mtv\\c.avi"));
    ASSERT_TRUE(man.Reload());
    EXPECT_TRUE(man.queue.empty());
    EXPECT_EQ(man.current_song, nullptr);
    EXPECT_EQ(man.sorted_song_lists.size(), 4u);
    for (const auto* list : man.sorted_song_lists) EXPECT_EQ(list, nullptr);
    EXPECT_TRUE(man.song_query_cache.entries.empty());
    EXPECT_TRUE(man.artist_query_cache.entries.empty());
    EXPECT_EQ(man.artist_query_cache.capacity, 100);
    EXPECT_EQ(man.song_query_cache.capacity, 1);
    ASSERT_EQ(man.songs.size(), 1u);
    EXPECT_EQ(man.songs[0]->id, 0);
    EXPECT_EQ(man.songs[0]->name, L"C");
    EXPECT_EQ(man.artists.size(), 1u);
}

TEST_F(CatalogueTest, SongFilePaths) {
    WriteArtists("1,Bob,B,1,1\n");
    WriteSongs(std::string(kSongHeader) + SongLine("Stored", "1", "1", "\\mtv\\sub\\s.avi") +
               SongLine("NoPath", "1", "1", "\\mtv\\"));
    SongMan man;
    ASSERT_TRUE(man.Reload());
    ASSERT_EQ(man.songs.size(), 2u);
    EXPECT_EQ(man.GetSongFilePath(man.songs[0]), L"C:\\Mtv\\sub\\s.avi");
    EXPECT_EQ(man.GetSongFilePath(man.songs[1]), L"C:\\NaduMtv\\VOD\\Bob-NoPath.avi");
    EXPECT_EQ(man.GetSongFilePath(nullptr), L"");

    // A formatted name longer than the 259-character buffer is cut to 258 characters.
    Song longOne;
    longOne.album_ref = man.albums[0];
    longOne.artist = std::wstring(200, L'a');
    longOne.name = std::wstring(100, L'b');
    const std::wstring path = man.GetSongFilePath(&longOne);
    EXPECT_EQ(path, L"C:\\NaduMtv\\VOD\\" + std::wstring(200, L'a') + L"-" + std::wstring(258 - 4 - 201, L'b'));

    // The roots are read at each call.
    settings.Set(L"setting:MtvRootDir", L"/srv/karaoke");
    EXPECT_EQ(man.GetSongFilePath(man.songs[0]), L"/srv/karaoke\\sub\\s.avi");
}

TEST_F(CatalogueTest, LinkLoopAndUnreadableUserFolders) {
    WriteArtists("1,Bob,B,1,1\n");
    WriteSongs(kSongHeader);
    const fs::path user = dir / "user";
    WriteBytes(user / "Singer-Album" / "Title.mp3", "x");
    fs::create_directory_symlink("..", user / "Singer-Album" / "loop");
    fs::create_directory_symlink(".", user / "self");
    fs::create_symlink(dir / "nowhere", dir / "dangling");
    WriteBytes(dir / "locked" / "A-B.mp3", "x");
    const std::string locked = (dir / "locked").string();
    platform::SetAccessHook([&](const std::string& native) { return native != locked; });
    settings.Set(L"setting:UserMtvRootDir",
                 W(dir / "dangling") + L";" + W(dir / "locked") + L";" + W(user) + L";" + W(dir / "missing"));

    SongMan man;
    ASSERT_TRUE(man.Reload());  // ends, despite the loops
    platform::SetAccessHook(nullptr);
    EXPECT_EQ(man.songs.size(), 1u);
    EXPECT_EQ(std::count_if(man.songs.begin(), man.songs.end(),
                            [](const Song* s) { return s->name == L"Title"; }),
              1);
    ExpectInvariants(man);
}

TEST_F(CatalogueTest, GeneratedCollectionKeepsEveryInvariant) {
    sinjo_bench::CollectionSpec wanted;
    wanted.songs = 3000;
    wanted.artists = 400;
    wanted.seed = 7;
    fs::create_directories(index);
    ASSERT_TRUE(sinjo_bench::CollectionGenerator(wanted).WriteFiles(index.string()));
    SongMan man;
    ASSERT_TRUE(man.Reload());
    // A few lines name a missing artist and are skipped; the rest load.
    EXPECT_GT(man.songs.size(), 2900u);
    EXPECT_LE(man.songs.size(), 3000u);
    ExpectInvariants(man);
    for (const Song* s : man.songs) {
        EXPECT_EQ(s->artist, s->artist_ref->name);
        EXPECT_TRUE(s->path.wide().find(L'\n') == std::wstring::npos && s->path.wide().find(L'\r') == std::wstring::npos);
    }
}

}  // namespace

namespace {

// The loader enters a file's artists into both maps at once (in name order, ids appended); the maps must
// come out as entering them one by one in line order gives, a later line winning a shared name or id.
TEST(EnterArtistsTest, MapsMatchEnteringOneByOne) {
    std::mt19937 rng(11);
    const wchar_t alphabet[] = {L'a', L'b', L'王', static_cast<wchar_t>(-5), static_cast<wchar_t>(INT32_MIN),
                                static_cast<wchar_t>(0x10FFFF)};
    for (int round = 0; round < 50; ++round) {
        SongMan man;
        std::vector<Artist*> made;
        std::map<std::wstring, Artist*> byName;
        std::map<int32_t, Artist*> byId;
        const int count = static_cast<int>(rng() % 200);
        int32_t id = 0;
        for (int i = 0; i < count; ++i) {
            auto* a = new Artist;
            // Mostly ascending ids, some repeated or going back.
            id = rng() % 5 == 0 ? static_cast<int32_t>(rng() % 50) : id + 1;
            a->id = id;
            std::wstring name(rng() % 4, L' ');
            for (wchar_t& c : name) c = alphabet[rng() % std::size(alphabet)];
            a->name = name;
            man.artists.push_back(a);
            made.push_back(a);
            byName[name] = a;
            byId[id] = a;
        }
        man.EnterArtists(made);
        EXPECT_EQ(man.artists_by_name, byName);
        EXPECT_EQ(man.artists_by_id, byId);
    }
}

}  // namespace
