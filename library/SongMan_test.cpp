#include "library/SongMan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/Globals.h"
#include "core/Settings.h"

namespace {

// Counts live objects, so that the owning containers' deletes can be seen.
struct Tracked {
    static int live;
    Tracked() { ++live; }
    ~Tracked() { --live; }
};
int Tracked::live = 0;

TEST(AutoReleaseListTest, EveryRemovalDeletes) {
    Tracked::live = 0;
    {
        autoreleaselist<Tracked> list;
        for (int i = 0; i < 6; ++i) list.push_back(new Tracked);
        list.push_back(nullptr);  // empty slots are allowed
        EXPECT_EQ(Tracked::live, 6);

        list.erase(list.begin());
        EXPECT_EQ(Tracked::live, 5);
        list.erase(list.begin(), list.begin() + 2);
        EXPECT_EQ(Tracked::live, 3);
        list.pop_back();  // the null slot
        EXPECT_EQ(Tracked::live, 3);

        Tracked* keep = list[1];
        EXPECT_EQ(list.erase_if([&](Tracked* t) { return t != keep; }), 2u);
        EXPECT_EQ(Tracked::live, 1);
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(list[0], keep);

        list.push_back(new Tracked);
        list.clear();
        EXPECT_EQ(Tracked::live, 0);
        EXPECT_TRUE(list.empty());
        list.push_back(new Tracked);
        list.push_back(new Tracked);
    }
    EXPECT_EQ(Tracked::live, 0);  // destroying the list deletes what is left
}

// A list of records that counts its own instances.
struct TrackedList : std::vector<Tracked*> {
    static int live;
    TrackedList() { ++live; }
    ~TrackedList() { --live; }
};
int TrackedList::live = 0;

TEST(AutoReleaseListTest, ListOfListsDeletesTheListsNotTheRecords) {
    Tracked::live = 0;
    TrackedList::live = 0;
    auto* a = new Tracked;
    auto* b = new Tracked;
    {
        autoreleaselist<TrackedList> lists;
        lists.resize(4, nullptr);
        lists[1] = new TrackedList;
        lists[2] = new TrackedList;
        lists[2]->assign({a, b});
        lists[1]->assign({b});
        EXPECT_EQ(TrackedList::live, 2);
    }
    EXPECT_EQ(TrackedList::live, 0);  // the lists went with their owner
    EXPECT_EQ(Tracked::live, 2);      // the records they pointed to did not
    delete a;
    delete b;
}

TEST(QueryCacheTest, EvictsOldestAndOwnsLists) {
    QueryCache<Song> single(1);
    auto* first = new std::vector<Song*>;
    single.Insert(L"a|0|0", first);
    EXPECT_EQ(single.Find(L"a|0|0"), first);
    single.Insert(L"b|0|0", new std::vector<Song*>);
    EXPECT_EQ(single.Find(L"a|0|0"), nullptr);
    EXPECT_EQ(single.entries.size(), 1u);

    // Insertion order decides, not key order: stamps are set apart by hand.
    QueryCache<Artist> cache(3);
    cache.Insert(L"z", new std::vector<Artist*>);
    cache.entries[L"z"]->stamp = 10;
    cache.Insert(L"a", new std::vector<Artist*>);
    cache.entries[L"a"]->stamp = 20;
    cache.Insert(L"m", new std::vector<Artist*>);
    cache.entries[L"m"]->stamp = 30;
    cache.Insert(L"q", new std::vector<Artist*>);
    EXPECT_EQ(cache.Find(L"z"), nullptr);
    EXPECT_NE(cache.Find(L"a"), nullptr);
    EXPECT_NE(cache.Find(L"q"), nullptr);

    // Equal stamps: the first in key order goes.
    cache.entries[L"q"]->stamp = 40;
    cache.entries[L"a"]->stamp = 5;
    cache.entries[L"m"]->stamp = 5;
    cache.Insert(L"r", new std::vector<Artist*>);
    EXPECT_EQ(cache.Find(L"a"), nullptr);
    EXPECT_NE(cache.Find(L"m"), nullptr);

    // Filing under a key already present replaces that entry instead of leaking it.
    auto* replacement = new std::vector<Artist*>;
    cache.Insert(L"m", replacement);
    EXPECT_EQ(cache.Find(L"m"), replacement);
    EXPECT_LE(cache.entries.size(), 3u);

    cache.Clear();
    EXPECT_TRUE(cache.entries.empty());
}

TEST(TextLessTest, OrdersByCodePage936Bytes) {
    TextLess less;
    struct Case {
        const wchar_t* a;
        const wchar_t* b;
    } ordered[] = {
        {L"", L"a"},            // the empty text first
        {L"ab", L"abc"},        // a proper prefix first
        {L"B", L"a"},           // bytes, not letters: capitals before small letters
        {L"zzz", L"阿"},        // double-byte characters after ASCII (unsigned comparison)
        {L"阿", L"八"},         // GB2312 order: a before ba
        {L"甲", L"乙"},         // jia before yi, although U+7532 > U+4E59
    };
    for (const Case& c : ordered) {
        EXPECT_TRUE(less(c.a, c.b)) << c.a << " < " << c.b;
        EXPECT_FALSE(less(c.b, c.a)) << c.b << " < " << c.a;
        EXPECT_EQ(TextKeyLess(TextKey(c.a), TextKey(c.b)), true);
    }
    EXPECT_FALSE(less(L"同", L"同"));
}

TEST(RecordsTest, CodeNamesNeverLeaveTheirTables) {
    EXPECT_STREQ(AudioTypeName(2), L"left_karaoke");
    EXPECT_STREQ(AudioTypeName(4), L"unknown");
    EXPECT_STREQ(ArtistCategoryName(3), L"band");
    EXPECT_STREQ(ArtistCategoryName(-1), L"unknown");
    EXPECT_STREQ(ArtistRegionName(2), L"hongkong_taiwan");
    EXPECT_STREQ(ArtistRegionName(99), L"unknown");
}

class SongManTest : public ::testing::Test {
protected:
    void SetUp() override { g_settings = &settings; }
    void TearDown() override { g_settings = nullptr; }
    Settings settings{L"SinjoSongManTest"};
};

TEST_F(SongManTest, ConstructionReadsTheAudioSource) {
    struct Case {
        const wchar_t* setting;  // null: not set
        int32_t code;
    } cases[] = {{nullptr, 0}, {L"original", 1}, {L"stereo", 4}, {L"Left", 0}, {L"", 0}, {L"nonsense", 0}};
    for (const Case& c : cases) {
        Settings store(L"SinjoSongManTestAudio");
        g_settings = &store;
        if (c.setting) store.Set(L"pref:AudioSource", c.setting);
        SongMan man;
        EXPECT_EQ(man.audio_source, c.code) << (c.setting ? c.setting : L"(unset)");
        if (!c.setting) {
            EXPECT_EQ(store.Get(L"pref:AudioSource", nullptr), L"karaoke");
        }
        g_settings = &settings;
    }

    SongMan man;
    EXPECT_EQ(man.artist_query_cache.capacity, 1);
    EXPECT_EQ(man.song_query_cache.capacity, 1);
    EXPECT_EQ(man.current_song, nullptr);
    EXPECT_FALSE(man.random_play);
    EXPECT_EQ(man.max_artist_id, 0);
    EXPECT_TRUE(man.recursive);
    EXPECT_FALSE(man.stop);
}

TEST_F(SongManTest, AlbumAccessorsStayInRange) {
    SongMan man;
    EXPECT_EQ(man.GetAlbumCount(), 0);
    EXPECT_EQ(man.GetAlbum(0), nullptr);
    man.albums.push_back(new Album);
    man.albums.push_back(new Album);
    EXPECT_EQ(man.GetAlbumCount(), 2);
    EXPECT_EQ(man.GetAlbum(1), man.albums[1]);
    EXPECT_EQ(man.GetAlbum(-1), nullptr);
    EXPECT_EQ(man.GetAlbum(2), nullptr);
}

TEST(PropertyTest, SongAndAlbumProperties) {
    Album album;
    album.name = L"精选";
    album.artist = L"someone";
    album.dir = L"folder";
    album.song_count = 12;
    Song song;
    song.name = L"月亮";
    song.artist = L"甲,乙";
    song.album_ref = &album;
    song.ext = L"AVI";
    song.id = 42;

    using R = SongMan::PropertyResult;
    struct Case {
        const wchar_t* prop;
        R result;
        const wchar_t* value;
    } songCases[] = {
        {L"name", R::ok, L"月亮"},        {L"NAME", R::ok, L"月亮"},      {L"Artist", R::ok, L"甲,乙"},
        {L"album", R::ok, L"精选"},       {L"audio_type", R::ok, L"unknown"}, {L"ext", R::ok, L"avi"},
        {L"id", R::ok, L"42"},           {L"path", R::unknown_name, L""}, {L"", R::unknown_name, L""},
        {L"names", R::unknown_name, L""},
    };
    for (const Case& c : songCases) {
        std::wstring value;
        EXPECT_EQ(SongMan::GetSongProperty(&song, c.prop, &value), c.result) << c.prop;
        EXPECT_EQ(value, c.value) << c.prop;
    }
    std::wstring value;
    EXPECT_EQ(SongMan::GetSongProperty(nullptr, L"name", &value), R::no_record);

    Case albumCases[] = {
        {L"name", R::ok, L"精选"}, {L"ARTIST", R::ok, L"someone"}, {L"dir", R::ok, L"folder"},
        {L"Song_Count", R::ok, L"12"}, {L"ext", R::unknown_name, L""},
    };
    for (const Case& c : albumCases) {
        std::wstring v;
        EXPECT_EQ(SongMan::GetAlbumProperty(&album, c.prop, &v), c.result) << c.prop;
        EXPECT_EQ(v, c.value) << c.prop;
    }
    EXPECT_EQ(SongMan::GetAlbumProperty(nullptr, L"name", &value), R::no_record);
}

}  // namespace
