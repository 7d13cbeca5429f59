// The pinyin search on catalogues loaded from index files: the files' pinyin columns reach the search
// index through Reload and decide between the readings of polyphonic characters when they fit the name;
// songs of the user folders, which have no column, are read from the tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "core/Globals.h"
#include "core/Settings.h"
#include "library/SongMan.h"
#include "platform/CodePage.h"

namespace fs = std::filesystem;

namespace {

std::string Gbk(const std::wstring& text) { return platform::WideToMultiByte(platform::CP_GBK, text); }

void WriteBytes(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

class PinyinLoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern =
            (fs::path(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") / "pyXXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        settings_.Set(L"setting:MtvIndexDir", platform::FromUtf8((dir_ / "index").string()));
        settings_.Set(L"setting:UserMtvRootDir", platform::FromUtf8((dir_ / "user").string()));
        settings_.Load();
        g_settings = &settings_;
    }
    void TearDown() override {
        g_settings = nullptr;
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // Artists: (name, column); songs: (title, column, artist number from 1), in CRLF lines as shops write.
    void WriteIndex(const std::vector<std::pair<std::wstring, std::string>>& artists,
                    const std::vector<std::tuple<std::wstring, std::string, int>>& songs) {
        std::string singer = "SingerID,SingerName,Spell,Sex,Region\r\n";
        for (size_t i = 0; i < artists.size(); ++i) {
            singer += std::to_string(i + 1) + "," + Gbk(artists[i].first) + "," + artists[i].second + ",1,1\r\n";
        }
        std::string lines = "ID,Name,Spell,Words,SingerID,Singer,Lang,Style,Year,Channel,Vol,Kind,Hits,Path,X\r\n";
        int n = 0;
        for (const auto& [title, column, artist] : songs) {
            const std::string number = std::to_string(++n);
            lines += number + "," + Gbk(title) + "," + column + ",2," + std::to_string(artist) +
                     ",x,x,0,1999,1,80,1,0,\\mtv\\s" + number + ".dat,x\r\n";
        }
        WriteBytes(dir_ / "index" / "singer.csv", singer);
        WriteBytes(dir_ / "index" / "Songs.csv", lines);
    }

    std::vector<std::wstring> Find(const std::wstring& query) {
        platform::RecursiveMutexLock guard(sm_.lock);
        std::vector<std::wstring> names;
        for (const Song* s : *sm_.QueryPinyinSongs(query, L"name")) names.push_back(s->name);
        return names;
    }

    fs::path dir_;
    Settings settings_{L"SinjoPinyinLoadTest"};
    SongMan sm_;
};

using Names = std::vector<std::wstring>;

TEST_F(PinyinLoadTest, ColumnsOfBothIndexFilesDecideWhenTheyFit) {
    WriteIndex({{L"重庆组合", "CQZH"}, {L"长江乐团", "ZJ"}, {L"行者", "X"}},
               {{L"重来", "CL", 1},            // fits: only "chong"
                {L"重返", "ZFX", 1},           // three initials for two characters: ignored
                {L"长大", "ZD", 2},            // fits: only "zhang"
                {L"银行", "Y?", 3},            // not letters: ignored
                {L"行走", "xz", 3},            // small letters are as good
                {L"朋友", "PYQ", 2}});          // does not fit: the table
    ASSERT_TRUE(sm_.Reload());
    ASSERT_EQ(sm_.songs.size(), 6u);

    EXPECT_EQ(Find(L"cl"), Names{L"重来"});
    EXPECT_EQ(Find(L"zl"), Names{});
    EXPECT_EQ(Find(L"chonglai"), Names{L"重来"});
    EXPECT_EQ(Find(L"zhonglai"), Names{});
    // An ignored column leaves every reading.
    EXPECT_EQ(Find(L"cf"), Names{L"重返"});
    EXPECT_EQ(Find(L"zf"), Names{L"重返"});
    EXPECT_EQ(Find(L"zhd"), Names{L"长大"});
    EXPECT_EQ(Find(L"changda"), Names{});
    EXPECT_EQ(Find(L"yinhang"), Names{L"银行"});
    EXPECT_EQ(Find(L"yinxing"), Names{L"银行"});
    EXPECT_EQ(Find(L"xingzou"), Names{L"行走"});
    EXPECT_EQ(Find(L"hangzou"), Names{});
    EXPECT_EQ(Find(L"pengyou"), Names{L"朋友"});

    // The artist index's column: "CQZH" fits 重庆组合 and rules out zhong; "ZJ" does not fit 长江乐团.
    Names byChongqing = Find(L"cqzh");
    std::sort(byChongqing.begin(), byChongqing.end());
    EXPECT_EQ(byChongqing, (Names{L"重来", L"重返"}));
    EXPECT_EQ(Find(L"zqzh"), Names{});
    Names band = Find(L"changjiang");
    Names band2 = Find(L"zhangjiang");
    std::sort(band.begin(), band.end());
    std::sort(band2.begin(), band2.end());
    EXPECT_EQ(band, (Names{L"朋友", L"长大"}));
    EXPECT_EQ(band2, band);
}

TEST_F(PinyinLoadTest, UserFolderSongsAreReadFromTheTables) {
    WriteIndex({{L"某人", "MR"}}, {{L"朋友", "PY", 1}});
    WriteBytes(dir_ / "user" / fs::path(u8"張學友-吻別") / fs::path(u8"一路上有你.mp3"), "");
    ASSERT_TRUE(sm_.Reload());
    ASSERT_EQ(sm_.songs.size(), 2u);
    EXPECT_EQ(Find(L"ylsyn"), Names{L"一路上有你"});
    EXPECT_EQ(Find(L"zhangxueyou"), Names{L"一路上有你"});
    EXPECT_EQ(Find(L"张学友 吻别"), Names{L"一路上有你"});  // artist and album, simplified
    EXPECT_EQ(Find(L"wb"), Names{L"一路上有你"});
    // A second Reload drops the first one's columns with its catalogue.
    WriteIndex({{L"某人", "MR"}}, {{L"重来", "ZL", 1}});
    ASSERT_TRUE(sm_.Reload());
    EXPECT_EQ(Find(L"py"), Names{});
    EXPECT_EQ(Find(L"zl"), Names{L"重来"});
    EXPECT_EQ(Find(L"cl"), Names{});
}

// Reload returns before the index is made; a designed search in the meantime scans, and must give what
// the index gives once it is there, in the same order (equal keys included). Searches from another thread
// while Reloads follow one another see whole catalogues (the thread-checked build watches the handover).
TEST_F(PinyinLoadTest, SearchesBeforeAndAfterTheIndexIsMadeAgree) {
    const std::wstring titles[] = {L"朋友", L"月亮代表我的心", L"Dancing Queen", L"重来", L"love", L"爱你", L"Mamma Mia"};
    std::vector<std::tuple<std::wstring, std::string, int>> songs;
    for (int i = 0; i < 3000; ++i) {
        songs.emplace_back(titles[i % 7] + (i % 3 == 0 ? std::wstring() : std::to_wstring(i % 50)), "", 1 + i % 4);
    }
    WriteIndex({{L"张学友", "ZXY"}, {L"ABBA", ""}, {L"邓丽君", "DLJ"}, {L"Beyond", ""}}, songs);
    const std::wstring queries[] = {L"", L"1", L"朋友", L"a", L"QUEEN 2", L"月亮 心", L"abba", L"zzz"};
    const std::wstring orders[] = {L"artist", L"album", L"name", L"ext"};

    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop) {
            platform::RecursiveMutexLock guard(sm_.lock);
            for (const wchar_t* q : {L"py", L"love"}) (void)sm_.QueryPinyinSongs(q, L"name")->size();
            (void)sm_.QuerySongs(L"a", L"artist")->size();
        }
    });
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(sm_.Reload());
        platform::RecursiveMutexLock guard(sm_.lock);
        std::vector<std::vector<const Song*>> early;
        for (const auto& q : queries) {
            for (const auto& o : orders) {
                const std::vector<Song*>* list = sm_.QuerySongs(q, o);
                early.emplace_back(list->begin(), list->end());
            }
        }
        ASSERT_TRUE(sm_.AdoptSearchIndex(true));
        sm_.song_query_cache.Clear();
        size_t k = 0;
        for (const auto& q : queries) {
            for (const auto& o : orders) {
                const std::vector<Song*>* list = sm_.QuerySongs(q, o);
                EXPECT_EQ(std::vector<const Song*>(list->begin(), list->end()), early[k++]) << q << " by " << o;
            }
        }
    }
    stop = true;
    reader.join();
}

}  // namespace
