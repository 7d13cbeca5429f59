#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>

#include "core/Globals.h"
#include "core/Settings.h"
#include "library/SongMan.h"

namespace {

// A catalogue built in memory, with the keys a load would make.
class QueryTest : public ::testing::Test {
protected:
    Artist* AddArtist(int32_t id, const std::wstring& name, int32_t category = 0, int32_t region = 0) {
        auto* a = new Artist;
        a->id = id;
        a->name = name;
        a->category = category;
        a->region = region;
        a->sort_key = TextKey(name);
        sm_.artists.push_back(a);
        return a;
    }
    Album* AddAlbum(const std::wstring& name) {
        auto* al = new Album;
        al->kind = folder_album;
        al->name = al->dir = name;
        al->index = static_cast<int32_t>(sm_.albums.size());
        al->sort_key = TextKey(name);
        sm_.albums.push_back(al);
        return al;
    }
    Song* AddSong(Artist* artist, Album* album, const std::wstring& name, const std::wstring& ext = L"avi",
                  const std::wstring& artistText = L"") {
        auto* s = new Song;
        s->artist = artistText.empty() ? artist->name.str() : artistText;
        s->artist_ref = artist;
        s->album_ref = album;
        s->name = name;
        s->ext = ext;
        s->id = static_cast<int32_t>(sm_.songs.size());
        sm_.songs.push_back(s);
        artist->song_count++;
        album->song_count++;
        return s;
    }
    std::vector<std::wstring> Names(const std::vector<Song*>& list) {
        std::vector<std::wstring> out;
        for (const Song* s : list) out.push_back(s->name);
        return out;
    }
    std::vector<int32_t> Ids(const std::vector<Song*>& list) {
        std::vector<int32_t> out;
        for (const Song* s : list) out.push_back(s->id);
        return out;
    }

    SongMan sm_;
};

TEST_F(QueryTest, EmptyQueryListsEverySongAndIsCached) {
    Artist* a = AddArtist(1, L"Zed");
    Album* al = AddAlbum(L"A");
    AddSong(a, al, L"b");
    AddSong(a, al, L"a");
    std::vector<Song*>* first = sm_.QuerySongs(L"", L"name");
    EXPECT_EQ(Names(*first), (std::vector<std::wstring>{L"a", L"b"}));
    EXPECT_EQ(sm_.QuerySongs(L"", L"name"), first);
    // Separator-only queries have no terms and list everything too.
    for (const wchar_t* q : {L" ", L",,", L"-:\t ,"}) {
        EXPECT_EQ(sm_.QuerySongs(q, L"name")->size(), 2u) << q;
    }
}

TEST_F(QueryTest, TermsMustAllMatchInAnyField) {
    Artist* zhang = AddArtist(1, L"张学友");
    Artist* beyond = AddArtist(2, L"Beyond");
    Album* vod = AddAlbum(L"VOD");
    Album* live = AddAlbum(L"Live 1991");
    AddSong(zhang, vod, L"吻别");
    AddSong(beyond, live, L"海阔天空", L"mp3");
    AddSong(beyond, vod, L"Amani");

    auto names = [&](const wchar_t* q) { return Names(*sm_.QuerySongs(q, L"")); };
    EXPECT_EQ(names(L"beyond amani"), std::vector<std::wstring>{L"Amani"});  // artist and title
    EXPECT_TRUE(names(L"beyond nothing").empty());
    EXPECT_EQ(names(L"BEYOND"), names(L"beyond"));
    EXPECT_EQ(names(L"BEYOND").size(), 2u);
    EXPECT_EQ(names(L"吻别"), std::vector<std::wstring>{L"吻别"});
    EXPECT_TRUE(names(L"吻別").empty());  // a traditional character is another character
    EXPECT_EQ(names(L"mp3"), std::vector<std::wstring>{L"海阔天空"});       // by extension
    EXPECT_EQ(names(L"live-1991"), std::vector<std::wstring>{L"海阔天空"});  // by album, "-" separates
    EXPECT_EQ(names(L"ond:ama"), std::vector<std::wstring>{L"Amani"});       // inside words
}

TEST_F(QueryTest, DuetQuery) {
    Artist* a = AddArtist(1, L"张学友");
    Artist* b = AddArtist(2, L"王菲");
    Album* al = AddAlbum(L"Duets");
    AddSong(a, al, L"Solo");
    AddSong(a, al, L"Together", L"mp3", L"张学友,王菲");
    AddSong(b, al, L"对唱情歌");
    // 王菲 sorts before 张学友 in code page 936 order.
    EXPECT_EQ(Names(*sm_.QuerySongs(L"对唱", L"")), (std::vector<std::wstring>{L"对唱情歌", L"Together"}));
    EXPECT_EQ(Names(*sm_.QuerySongs(L"合唱", L"")), (std::vector<std::wstring>{L"Together"}));
    // With a second term it is an ordinary search.
    EXPECT_EQ(Names(*sm_.QuerySongs(L"对唱 情歌", L"")), std::vector<std::wstring>{L"对唱情歌"});
}

TEST_F(QueryTest, SortNames) {
    Artist* b = AddArtist(1, L"B");
    Artist* a = AddArtist(2, L"A");
    Album* x = AddAlbum(L"X");
    AddSong(b, x, L"1", L"mp3");
    AddSong(a, x, L"2", L"avi");
    const auto byArtist = Names(*sm_.QuerySongs(L"", L"artist"));
    EXPECT_EQ(byArtist, (std::vector<std::wstring>{L"2", L"1"}));
    for (const wchar_t* other : {L"", L"ARTIST", L"whatever"}) {
        EXPECT_EQ(Names(*sm_.QuerySongs(L"", other)), byArtist) << other;
    }
    EXPECT_EQ(Names(*sm_.QuerySongs(L"", L"EXT")), (std::vector<std::wstring>{L"2", L"1"}));
    EXPECT_EQ(Names(*sm_.QuerySongs(L"", L"Name")), (std::vector<std::wstring>{L"1", L"2"}));
}

TEST_F(QueryTest, ArtistSongsComeByAlbumCreationOrderThenTitle) {
    Artist* a = AddArtist(1, L"周华健");
    // Albums come in creation order (their index), whatever their names; within an album the titles
    // are in code page 936 order.
    Album* made1st = AddAlbum(L"Zzz");
    Album* made2nd = AddAlbum(L"Aaa");
    AddSong(a, made2nd, L"朋友");
    AddSong(a, made1st, L"花心");
    AddSong(a, made2nd, L"风雨无阻");
    AddSong(a, made1st, L"Beta");
    EXPECT_EQ(Names(*sm_.QuerySongs(L"", L"artist")),
              (std::vector<std::wstring>{L"Beta", L"花心", L"风雨无阻", L"朋友"}));
}

TEST_F(QueryTest, TiesBetweenDifferentRecordsWithEqualNames) {
    // Two artists named alike (two index lines), two albums named alike, equal titles.
    Artist* a1 = AddArtist(7, L"Same");
    Artist* a2 = AddArtist(3, L"Same");
    Album* v1 = AddAlbum(L"Twin");
    Album* v2 = AddAlbum(L"Twin");
    AddSong(a1, v1, L"t");   // 0
    AddSong(a2, v2, L"t");   // 1
    AddSong(a1, v2, L"s");   // 2
    AddSong(a2, v1, L"u");   // 3
    // Order 0: each artist's songs together (the lower artist id first), by album index, then title.
    EXPECT_EQ(Ids(*sm_.QuerySongs(L"", L"artist")), (std::vector<int32_t>{3, 1, 0, 2}));
    // Order 1: each album together (creation order for equal names), by artist id, then title.
    EXPECT_EQ(Ids(*sm_.QuerySongs(L"", L"album")), (std::vector<int32_t>{3, 0, 1, 2}));
    // Order 2: equal titles by artist id, then album index.
    EXPECT_EQ(Ids(*sm_.QuerySongs(L"", L"name")), (std::vector<int32_t>{2, 1, 0, 3}));
    // Order 3: extension, then id.
    EXPECT_EQ(Ids(*sm_.QuerySongs(L"", L"ext")), (std::vector<int32_t>{0, 1, 2, 3}));
}

TEST_F(QueryTest, SecondQueryEvictsTheFirst) {
    Artist* a = AddArtist(1, L"A");
    Album* al = AddAlbum(L"X");
    AddSong(a, al, L"one");
    sm_.QuerySongs(L"one", L"");
    EXPECT_NE(sm_.song_query_cache.Find(L"one|0|0"), nullptr);
    sm_.QuerySongs(L"two", L"");
    EXPECT_EQ(sm_.song_query_cache.Find(L"one|0|0"), nullptr);
    EXPECT_EQ(sm_.song_query_cache.entries.size(), 1u);
    // The sorted list of the order stays for the next query.
    EXPECT_NE(sm_.sorted_song_lists[0], nullptr);
    EXPECT_EQ(sm_.sorted_song_lists[2], nullptr);
}

TEST_F(QueryTest, ArtistFiltersAndOrders) {
    AddArtist(1, L"男甲", 1, 1)->song_count = 1;
    AddArtist(2, L"女乙", 2, 1)->song_count = 5;
    AddArtist(3, L"乐队", 3, 2)->song_count = 3;
    AddArtist(4, L"Foreign", 1, 3)->song_count = 2;
    AddArtist(5, L"Nobody", 0, 1)->song_count = 9;
    AddArtist(6, L"Odd code", 9, 9)->song_count = 1;  // a category outside the table reads as unknown
    auto names = [&](const wchar_t* filter, const wchar_t* order) {
        std::vector<std::wstring> out;
        for (const Artist* a : *sm_.QueryArtists(filter, order)) out.push_back(a->name);
        return out;
    };
    EXPECT_EQ(names(L"male,mainland", L""), std::vector<std::wstring>{L"男甲"});
    EXPECT_EQ(names(L"mainland,male", L""), names(L"male,mainland", L""));
    EXPECT_TRUE(names(L"Male", L"").empty());
    EXPECT_EQ(names(L"band", L""), std::vector<std::wstring>{L"乐队"});
    EXPECT_EQ(names(L"foreign", L""), std::vector<std::wstring>{L"Foreign"});
    EXPECT_EQ(names(L"unknown", L""), (std::vector<std::wstring>{L"Nobody", L"Odd code"}));
    // Order 0: category, then name; order 1: most songs first.
    EXPECT_EQ(names(L"", L"name"),
              (std::vector<std::wstring>{L"Nobody", L"Foreign", L"男甲", L"女乙", L"乐队", L"Odd code"}));
    EXPECT_EQ(names(L"", L"SONG_COUNT"),
              (std::vector<std::wstring>{L"Nobody", L"女乙", L"乐队", L"Foreign", L"Odd code", L"男甲"}));
}

// The design's comparisons, literally, with TextLess converting on every call.
bool ReferenceLess(int order, const Song* a, const Song* b) {
    TextLess less;
    switch (order) {
        case 0:
            if (a->artist_ref != b->artist_ref) return less(a->artist_ref->name, b->artist_ref->name);
            if (a->album_ref->index != b->album_ref->index) return a->album_ref->index < b->album_ref->index;
            return less(a->name, b->name);
        case 1:
            if (a->album_ref->index != b->album_ref->index) return less(a->album_ref->name, b->album_ref->name);
            if (a->artist_ref != b->artist_ref) return a->artist_ref->id < b->artist_ref->id;
            return less(a->name, b->name);
        case 2:
            if (a->name != b->name) return less(a->name, b->name);
            if (a->artist_ref != b->artist_ref) return a->artist_ref->id < b->artist_ref->id;
            return a->album_ref->index < b->album_ref->index;
        default:
            if (a->ext != b->ext) return a->ext < b->ext;
            return a->id < b->id;
    }
}

TEST_F(QueryTest, OrdersAgreeWithTheReferenceComparisonOnAGeneratedCollection) {
    std::mt19937 rng(12345);
    const std::vector<std::wstring> syllables = {L"爱", L"你", L"朋友", L"Love", L"love", L"天空", L"雨", L"A",
                                                 L"风", L"心", L"Z", L"情歌", L"〆"};
    auto word = [&] {
        std::wstring w;
        const int n = 1 + static_cast<int>(rng() % 3);
        for (int i = 0; i < n; ++i) w += syllables[rng() % syllables.size()];
        return w;
    };
    std::vector<Artist*> artists;
    for (int i = 0; i < 60; ++i) artists.push_back(AddArtist(static_cast<int32_t>(rng() % 40 + 1), word()));
    std::vector<Album*> albums;
    for (int i = 0; i < 25; ++i) albums.push_back(AddAlbum(i % 5 == 0 ? L"VOD" : word()));
    const std::vector<std::wstring> exts = {L"avi", L"mp3", L"dat", L"wmv"};
    for (int i = 0; i < 3000; ++i) {
        AddSong(artists[rng() % artists.size()], albums[rng() % albums.size()], word(), exts[rng() % exts.size()]);
    }
    const wchar_t* sortNames[4] = {L"artist", L"album", L"name", L"ext"};
    for (int order = 0; order < 4; ++order) {
        const std::vector<Song*> list = *sm_.QuerySongs(L"", sortNames[order]);
        ASSERT_EQ(list.size(), 3000u);
        std::vector<Song*> sortedIds = list;
        std::sort(sortedIds.begin(), sortedIds.end());
        ASSERT_TRUE(std::adjacent_find(sortedIds.begin(), sortedIds.end()) == sortedIds.end());
        // Nowhere does the reference put a later song before an earlier one: adjacent pairs all, and a
        // large sample of pairs at any distance.
        for (size_t i = 0; i + 1 < list.size(); ++i) {
            ASSERT_FALSE(ReferenceLess(order, list[i + 1], list[i])) << "order " << order << " at " << i;
        }
        for (int k = 0; k < 200000; ++k) {
            size_t i = rng() % list.size(), j = rng() % list.size();
            if (i > j) std::swap(i, j);
            if (i == j) continue;
            ASSERT_FALSE(ReferenceLess(order, list[j], list[i])) << "order " << order << " " << i << "/" << j;
        }
        // And searching keeps that order.
        const std::vector<Song*> found = *sm_.QuerySongs(L"love", sortNames[order]);
        std::vector<Song*> expected;
        for (Song* s : list) {
            std::wstring hay = s->artist + L"\n" + s->album_ref->name + L"\n" + s->name + L"\n" + s->ext;
            for (wchar_t& c : hay) c = (c >= L'A' && c <= L'Z') ? c + 32 : c;
            if (hay.find(L"love") != std::wstring::npos) expected.push_back(s);
        }
        EXPECT_EQ(found, expected);
    }
}

}  // namespace

namespace {

// Searches look in a block made from the loaded songs; a Reload with as many songs but other names must
// not find the old ones.
TEST(QueryAfterReload, SearchesSeeTheNewCatalogue) {
    const std::string dir = std::string(std::getenv("TMPDIR")) + "/query-reload";
    std::filesystem::create_directories(dir);
    auto write = [&](const std::string& name, const std::string& text) {
        std::ofstream(dir + "/" + name, std::ios::binary) << text;
    };
    write("singer.csv", "1,Singer,x,1,1\r\n");
    auto songs = [](const std::string& title) {
        return "h\r\n0," + title + ",x,x,1,x,x,x,x,1,x,x,x,\\mtv\\a.avi,x\r\n";
    };
    write("Songs.csv", songs("Alpha"));
    Settings settings(L"SinjoQueryReloadTest");
    settings.Load();
    settings.Set(L"setting:MtvIndexDir", std::wstring(dir.begin(), dir.end()));
    g_settings = &settings;
    SongMan sm;
    ASSERT_TRUE(sm.Reload());
    {
        platform::RecursiveMutexLock lock(sm.lock);
        EXPECT_EQ(sm.QuerySongs(L"alpha", L"")->size(), 1u);
    }
    write("Songs.csv", songs("Beta"));
    ASSERT_TRUE(sm.Reload());
    {
        platform::RecursiveMutexLock lock(sm.lock);
        EXPECT_EQ(sm.QuerySongs(L"alpha", L"")->size(), 0u);
        EXPECT_EQ(sm.QuerySongs(L"BETA", L"")->size(), 1u);
    }
    g_settings = nullptr;
}

}  // namespace
