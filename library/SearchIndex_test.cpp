#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>

#include "library/ChineseText.h"
#include "library/SongMan.h"

namespace {

using chinese_text::FoldForSearch;
using chinese_text::PinyinSearchMatches;

// A catalogue built in memory, with the keys a load makes; Index() makes the search index the way the end
// of Reload does, and Scan() drops it so that the queries sort and scan.
class SearchTest : public ::testing::Test {
protected:
    Artist* AddArtist(const std::wstring& name, int32_t id = 0) {
        auto* a = new Artist;
        a->id = id != 0 ? id : static_cast<int32_t>(sm_.artists.size()) + 1;
        a->name = name;
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
                  const std::wstring& artistText = L"", const std::string& column = "") {
        auto* s = new Song;
        s->artist = artistText.empty() ? artist->name.str() : artistText;
        s->artist_ref = artist;
        s->album_ref = album;
        s->name = name;
        s->ext = ext;
        s->id = static_cast<int32_t>(sm_.songs.size());
        sm_.songs.push_back(s);
        if (!column.empty()) columns_.SetSong(s->id, column);
        return s;
    }
    void Forget() {
        sm_.song_query_cache.Clear();
        sm_.sorted_song_lists.clear();
        sm_.search_text.clear();
        sm_.search_offsets.clear();
    }
    void Index() {
        Forget();
        sm_.search_index.Build(sm_, columns_);
        ASSERT_TRUE(sm_.search_index.Covers(sm_.songs.size()));
    }
    void Scan() {
        Forget();
        sm_.search_index.Clear();
    }
    static std::vector<int32_t> Ids(const std::vector<Song*>& list) {
        std::vector<int32_t> out;
        for (const Song* s : list) out.push_back(s->id);
        return out;
    }
    std::vector<std::wstring> PinyinNames(const std::wstring& query) {
        std::vector<std::wstring> out;
        for (const Song* s : *sm_.QueryPinyinSongs(query, L"name")) out.push_back(s->name);
        return out;
    }

    SongMan sm_;
    PinyinColumns columns_;
};

// ---- the designed search: the index gives exactly what sorting and scanning give ------------------------

// Random catalogues from small pools, so that texts repeat, differ only in letter case, share keys, hold
// characters code page 936 lacks (their keys hold "?") and traditional characters; queries of Latin, Han,
// mixed, empty, separator-only and hostile terms, under every order.
TEST_F(SearchTest, DesignedSearchGivesTheScansAnswersOnRandomCatalogues) {
    const std::vector<std::wstring> pieces = {L"Love", L"love", L"LOVE", L"爱", L"愛", L"你", L"月亮", L"朋友",
                                              L"a", L"B", L"mp3", L"?", L"한", L"\U0001F3A4", L"对唱", L"x y",
                                              L"Don't", L"(Live)", L"-", L",", L"，", L"VOD", L"重", L"長"};
    const std::vector<std::wstring> exts = {L"avi", L"mp3", L"dat", L"", L"wmv"};
    const std::vector<std::wstring> orders = {L"", L"artist", L"ALBUM", L"name", L"Ext", L"other"};
    std::mt19937 rng(20260110);
    auto pick = [&](const auto& v) { return v[std::uniform_int_distribution<size_t>(0, v.size() - 1)(rng)]; };
    auto text = [&](int most) {
        std::wstring t;
        const int n = std::uniform_int_distribution<int>(1, most)(rng);
        for (int i = 0; i < n; ++i) t += pick(pieces);
        return t;
    };
    for (int round = 0; round < 30; ++round) {
        sm_.songs.clear();
        sm_.artists.clear();
        sm_.albums.clear();
        std::vector<Artist*> artists;
        for (int i = 0; i < 12; ++i) {
            // Some artists share a name, and two share an id (two index lines with the same id).
            artists.push_back(AddArtist(i % 5 == 4 ? artists[0]->name.str() : text(2), i == 7 ? 3 : 0));
        }
        std::vector<Album*> albums = {AddAlbum(L"VOD")};
        for (int i = 0; i < 4; ++i) albums.push_back(AddAlbum(text(2)));
        albums.push_back(AddAlbum(albums[1]->name));  // two albums with one name
        // Mostly small catalogues; now and then one where a rare term leaves few of many songs.
        const int songs = round % 6 == 5 ? 1500 : std::uniform_int_distribution<int>(0, 150)(rng);
        for (int i = 0; i < songs; ++i) {
            Artist* artist = pick(artists);
            const bool duet = std::uniform_int_distribution<int>(0, 9)(rng) == 0;
            AddSong(artist, pick(albums), text(3), pick(exts), duet ? artist->name + L"," + text(1) : L"");
        }

        std::vector<std::wstring> queries = {L"", L" ", L"-,:", L"对唱", L"合唱", L"对唱 x", L"love", L"LOVE",
                                             L"o", L"爱 love", L"mp3", L"vod", L"?", L"\U0001F3A4",
                                             std::wstring(L"a\0b", 3), std::wstring(5000, L'a'), L"a a a a"};
        for (int i = 0; i < 25; ++i) {
            // Parts of real texts, sometimes in capitals, joined by separators.
            std::wstring q;
            const int terms = std::uniform_int_distribution<int>(1, 3)(rng);
            for (int t = 0; t < terms; ++t) {
                const Song* s = sm_.songs.empty() ? nullptr : pick(sm_.songs);
                std::wstring source = s == nullptr ? text(1) : pick(std::vector<std::wstring>{
                                                                   s->name, s->artist, s->album_ref->name, s->ext});
                if (source.empty()) source = text(1);
                const size_t from = std::uniform_int_distribution<size_t>(0, source.size() - 1)(rng);
                const size_t len = std::uniform_int_distribution<size_t>(1, source.size() - from)(rng);
                std::wstring term = source.substr(from, len);
                if (t % 2 == 1) {
                    for (wchar_t& c : term) c = (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c;
                }
                q += (t == 0 ? L"" : pick(std::vector<std::wstring>{L" ", L",", L"\t", L"-", L":", L"  "})) + term;
            }
            queries.push_back(q);
        }

        for (const std::wstring& order : orders) {
            for (const std::wstring& q : queries) {
                Scan();
                const std::vector<int32_t> expected = Ids(*sm_.QuerySongs(q, order));
                Index();
                EXPECT_EQ(Ids(*sm_.QuerySongs(q, order)), expected)
                    << "round " << round << ", order \"" << std::string(order.begin(), order.end())
                    << "\", query of " << q.size() << " characters";
                // The same with the passes shared with a helper thread, and the terms after the first
                // looked for in the entries of the songs left, as on a large catalogue.
                Forget();
                sm_.search_index.Tune({0, 0, 0});
                EXPECT_EQ(Ids(*sm_.QuerySongs(q, order)), expected)
                    << "shared, round " << round << ", order \"" << std::string(order.begin(), order.end())
                    << "\", query of " << q.size() << " characters";
                sm_.search_index.Tune({});
            }
        }
    }
}

// A catalogue large enough that each order's keys span several radix digits, with titles and artist names
// that share their first eight key bytes (four Han characters) and differ after them, or only in letter
// case (one key, two texts): every order must be the one sorting gives.
TEST_F(SearchTest, OrdersOfALargeCatalogueAreTheSortedOrders) {
    std::mt19937 rng(7);
    const std::wstring han = L"月亮代表我的心朋友爱愛重";
    auto name = [&](int longest) {
        std::wstring t = rng() % 2 ? L"月亮代表" : L"";  // a shared beginning of eight key bytes
        const int n = 1 + static_cast<int>(rng() % static_cast<uint32_t>(longest));
        for (int i = 0; i < n; ++i) {
            t.push_back(rng() % 3 == 0 ? static_cast<wchar_t>((rng() % 2 ? L'a' : L'A') + rng() % 3)
                                       : han[rng() % han.size()]);
        }
        return t;
    };
    std::vector<Artist*> artists;
    for (int i = 0; i < 3000; ++i) artists.push_back(AddArtist(name(3), i % 97 == 5 ? 11 : 0));
    std::vector<Album*> albums;
    for (int i = 0; i < 40; ++i) albums.push_back(AddAlbum(i % 9 == 8 ? albums[0]->name : name(2)));
    const std::vector<std::wstring> exts = {L"avi", L"mp3", L"dat", L"mkv", L"", L"vob"};
    for (int i = 0; i < 6000; ++i) {
        AddSong(artists[rng() % artists.size()], albums[rng() % albums.size()], name(5), exts[rng() % exts.size()]);
    }
    for (const wchar_t* order : {L"artist", L"album", L"name", L"ext"}) {
        Scan();
        const std::vector<int32_t> expected = Ids(*sm_.QuerySongs(L"", order));
        Index();
        EXPECT_EQ(Ids(*sm_.QuerySongs(L"", order)), expected) << "order " << std::wstring(order).size();
    }
}

// ---- the pinyin search -----------------------------------------------------------------------------------

TEST(ChineseTextTest, FoldingAndReadings) {
    EXPECT_EQ(FoldForSearch(L"愛ＡＢｃ１Love長"), L"爱abc1love长");
    EXPECT_EQ(FoldForSearch(L"爱情"), L"爱情");  // simplified stays
    auto readings = [](wchar_t c) {
        std::vector<std::string> out;
        for (uint16_t r : chinese_text::Readings(c)) out.emplace_back(chinese_text::Syllable(r));
        std::sort(out.begin(), out.end());
        return out;
    };
    EXPECT_EQ(readings(L'朋'), std::vector<std::string>{"peng"});
    const auto zhong = readings(L'重');
    EXPECT_NE(std::find(zhong.begin(), zhong.end(), "zhong"), zhong.end());
    EXPECT_NE(std::find(zhong.begin(), zhong.end(), "chong"), zhong.end());
    const auto lv = readings(L'绿');
    EXPECT_NE(std::find(lv.begin(), lv.end(), "lv"), lv.end());
    EXPECT_TRUE(chinese_text::Readings(L'A').empty());
}

// One text against terms: what matches and what must not.
TEST(ChineseTextTest, TermsAgainstOneText) {
    struct Case {
        const wchar_t* text;
        const char* column;
        const wchar_t* term;
        bool match;
    } cases[] = {
        {L"月亮代表我的心", "", L"yldbwdx", true},   // every initial
        {L"月亮代表我的心", "", L"ldb", true},       // a run of initials inside
        {L"月亮代表我的心", "", L"ydb", false},      // not a run
        {L"月亮代表我的心", "", L"yueliang", true},  // full pinyin
        {L"月亮代表我的心", "", L"yueliangdaibiao", true},
        {L"月亮代表我的心", "", L"yueliangd", true},  // typing on
        {L"月亮代表我的心", "", L"yuel", true},
        {L"月亮代表我的心", "", L"ueliang", false},  // not from a syllable's start
        {L"朋友", "", L"py", true},
        {L"朋友", "", L"pengyou", true},
        {L"朋友", "", L"PengYou", true},
        {L"朋友", "", L"PY", true},
        {L"重庆森林", "", L"cqsl", true},   // polyphonic: chong
        {L"重庆森林", "", L"zqsl", true},   // and zhong, without a column to decide
        {L"重庆森林", "CQSL", L"zqsl", false},  // the column decides
        {L"重庆森林", "CQSL", L"chongqing", true},
        {L"重庆森林", "CQSL", L"zhongqing", false},
        {L"重庆森林", "ZQ", L"zqsl", true},  // a column of the wrong length is ignored
        {L"重庆森林", "C?SL", L"zqsl", true},  // and one that is not letters
        {L"重", "2", L"z", true},                // a number in the column, not initials
        {L"重", "2", L"2", false},
        {L"重", "c", L"z", false},               // one small letter is a column
        {L"银行", "", L"yinhang", true},
        {L"銀行", "", L"yinhang", true},  // traditional characters read as their simplified forms
        {L"愛你一萬年", "", L"爱你", true},
        {L"爱你一万年", "", L"愛你", true},
        {L"愛你一萬年", "", L"aini", true},
        {L"My Heart Will Go On", "", L"mhwgo", true},  // the initials of words
        {L"My Heart Will Go On", "", L"myheart", true},
        {L"My Heart Will Go On", "", L"heart", true},
        {L"My Heart Will Go On", "", L"eart", true},  // plain text
        {L"2002年的第一场雪", "", L"2002nddycx", true},
        {L"사랑해", "", L"사랑", true},  // no table knows it: found by its text only
        {L"사랑해", "", L"s", false},
        {L"Ｌｏｖｅ", "", L"love", true},
        {L"绿光", "", L"lvguang", true},
        {L"绿光", "", L"luguang", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PinyinSearchMatches(FoldForSearch(c.term), c.text, c.column), c.match)
            << std::string(c.column) << " term of " << std::wcslen(c.term) << " characters";
    }
}

TEST_F(SearchTest, PinyinSearchFindsTitlesArtistsAndAlbums) {
    Artist* zxy = AddArtist(L"張學友");
    Artist* beyond = AddArtist(L"Beyond");
    Album* vod = AddAlbum(L"VOD");
    Album* gold = AddAlbum(L"金曲精选");
    AddSong(zxy, vod, L"吻别");
    AddSong(zxy, vod, L"一路上有你");
    AddSong(beyond, gold, L"海阔天空");
    AddSong(beyond, vod, L"光辉岁月");
    AddSong(beyond, vod, L"重来", L"avi", L"", "CL");  // column: chong
    AddSong(zxy, vod, L"重返", L"avi", L"", "ZFX");  // wrong length: the table's readings
    AddSong(beyond, vod, L"真的爱你 Live");
    Index();
    using Names = std::vector<std::wstring>;
    EXPECT_EQ(PinyinNames(L"zxy"), (Names{L"吻别", L"一路上有你", L"重返"}));  // the artist, traditional
    EXPECT_EQ(PinyinNames(L"张学友"), PinyinNames(L"zxy"));
    EXPECT_EQ(PinyinNames(L"jinqu"), (Names{L"海阔天空"}));  // the album
    EXPECT_EQ(PinyinNames(L"hktk"), (Names{L"海阔天空"}));
    EXPECT_EQ(PinyinNames(L"cl"), (Names{L"重来"}));
    EXPECT_EQ(PinyinNames(L"zl"), Names{});
    EXPECT_EQ(PinyinNames(L"zf"), (Names{L"重返"}));
    EXPECT_EQ(PinyinNames(L"cf"), (Names{L"重返"}));
    EXPECT_EQ(PinyinNames(L"zdan live"), (Names{L"真的爱你 Live"}));
    EXPECT_EQ(PinyinNames(L"guang hui"), (Names{L"光辉岁月"}));
    EXPECT_EQ(PinyinNames(L"avi"), Names{});  // the extension is not searched
    EXPECT_EQ(PinyinNames(L"").size(), sm_.songs.size());
    // The designed search is untouched: it finds the extension, and no pinyin.
    EXPECT_EQ(sm_.QuerySongs(L"avi", L"name")->size(), sm_.songs.size());
    EXPECT_TRUE(sm_.QuerySongs(L"zxy", L"name")->empty());
}

// The index against the plain scan of the pinyin search (no columns), on random catalogues.
TEST_F(SearchTest, PinyinIndexGivesTheScansAnswers) {
    const std::vector<std::wstring> pieces = {L"月亮", L"代表", L"我的心", L"朋友", L"重", L"行", L"長", L"爱",
                                              L"愛", L"Love", L" ", L"story", L"2002", L"한", L"-", L"Ｍ"};
    const std::vector<std::wstring> queries = {L"y", L"yl", L"ylb", L"yueliang", L"pengyou", L"peng you", L"cz",
                                               L"zz", L"hang", L"xing", L"ai", L"aidb", L"愛", L"爱 love", L"ls",
                                               L"lovestory", L"m", L"2002", L"한", L"q", std::wstring(70, L'a'),
                                               L"yueliangdaibiaowodexinyueliangdaibiaowodexinyueliangdaibiaowo",
                                               // a rare term first leaves few songs for the others to check
                                               L"lovestory 2002", L"yueliangdaibiao m y", L"pengyouwdx ai 愛",
                                               L"2002 lovestory zz", L"cq 爱love y", L"story love"};
    std::mt19937 rng(7);
    auto pick = [&](const auto& v) { return v[std::uniform_int_distribution<size_t>(0, v.size() - 1)(rng)]; };
    for (int round = 0; round < 10; ++round) {
        sm_.songs.clear();
        sm_.artists.clear();
        sm_.albums.clear();
        std::vector<Artist*> artists;
        for (int i = 0; i < 6; ++i) artists.push_back(AddArtist(pick(pieces) + pick(pieces)));
        std::vector<Album*> albums = {AddAlbum(L"VOD"), AddAlbum(pick(pieces) + pick(pieces))};
        const int songs = round % 3 == 0 ? 2000 : 120;
        for (int i = 0; i < songs; ++i) {
            AddSong(pick(artists), pick(albums), pick(pieces) + pick(pieces) + pick(pieces));
        }
        for (const std::wstring& q : queries) {
            Scan();
            const std::vector<int32_t> expected = Ids(*sm_.QueryPinyinSongs(q, L"album"));
            Index();
            EXPECT_EQ(Ids(*sm_.QueryPinyinSongs(q, L"album")), expected) << "round " << round;
            // The same with the passes shared with a helper thread, and the terms after the first looked
            // for in the entries of the songs left, as on a large catalogue.
            Forget();
            sm_.search_index.Tune({0, 0, 0});
            EXPECT_EQ(Ids(*sm_.QueryPinyinSongs(q, L"album")), expected) << "shared, round " << round;
            sm_.search_index.Tune({});
        }
    }
}

// Hostile queries answer at once with a defined result, from both searches.
TEST_F(SearchTest, HostileQueriesAnswerQuickly) {
    Artist* a = AddArtist(L"王菲");
    Album* vod = AddAlbum(L"VOD");
    for (int i = 0; i < 2000; ++i) AddSong(a, vod, L"红豆" + std::to_wstring(i));
    Index();
    std::wstring manyTerms;
    for (int i = 0; i < 5000; ++i) manyTerms += L"hd" + std::to_wstring(i % 50) + L" ";
    std::wstring manyMatching;
    for (int i = 0; i < 5000; ++i) manyMatching += L"hong ";
    const std::wstring longTerm(200000, L'z');
    const std::wstring odd = std::wstring(L"\xFFFD\xD800?\x7F", 4) + std::wstring(1, L'\0');
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(sm_.QueryPinyinSongs(manyTerms, L"")->empty());
    EXPECT_EQ(sm_.QueryPinyinSongs(manyMatching, L"")->size(), 2000u);
    EXPECT_TRUE(sm_.QueryPinyinSongs(longTerm, L"")->empty());
    EXPECT_TRUE(sm_.QuerySongs(longTerm, L"")->empty());
    EXPECT_TRUE(sm_.QueryPinyinSongs(odd, L"")->empty());
    EXPECT_TRUE(sm_.QuerySongs(odd, L"")->empty());
    EXPECT_EQ(sm_.QuerySongs(L"红豆1999", L"name")->size(), 1u);
    // Only a guard against a hang: the figures are in bench/query_bench.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

}  // namespace
