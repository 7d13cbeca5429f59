// The cache must give exactly what rendering afresh gives, and must never serve a page rendered from a
// catalogue, page size or media root that has since changed.
#include "web/SongListCache.h"

#include <gtest/gtest.h>

#include <memory>
#include <regex>

#include "core/Globals.h"
#include "core/Settings.h"
#include "library/SongMan.h"
#include "web/PageFragments.h"

namespace {

class SongListCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        settings_ = std::make_unique<Settings>(L"SinjoSongListCacheTest");
        settings_->Load();
        settings_->Set(L"setting:MtvRootDir", L"/mtv");
        settings_->Set(L"setting:PageSize", L"10");
        songMan_ = std::make_unique<SongMan>();
        g_settings = settings_.get();
        g_songMan = songMan_.get();
        album_ = new Album;
        album_->kind = index_album;
        album_->name = L"VOD";
        album_->dir = L"VOD";
        songMan_->albums.push_back(album_);
        for (int i = 0; i < 25; ++i) {
            Song* s = new Song;
            s->artist = L"Singer" + std::to_wstring(i % 3);
            s->album_ref = album_;
            s->name = L"Song" + std::to_wstring(i);
            s->id = i;
            s->path = L"dir\\" + std::to_wstring(i) + L".mpg";
            s->ext = L"mpg";
            songMan_->songs.push_back(s);
        }
        songs_.assign(songMan_->songs.begin(), songMan_->songs.end());
    }
    void TearDown() override {
        g_songMan = nullptr;
        g_settings = nullptr;
    }

    // The fragment without the batch-queue bar's random pick, which differs from call to call.
    static std::string WithoutRandomPick(const std::string& list) {
        static const std::regex pick("QueueSong\\('[0-9,]*'\\)>[^<]*</a>&nbsp;<a");
        return std::regex_replace(list, pick, "PICK", std::regex_constants::format_first_only);
    }

    std::unique_ptr<Settings> settings_;
    std::unique_ptr<SongMan> songMan_;
    Album* album_ = nullptr;
    std::vector<Song*> songs_;
};

TEST_F(SongListCacheTest, HitsAndMissesGiveWhatRenderingAfreshGives) {
    SongListCache cache;
    for (int32_t page : {1, 2, 3, 9, -4, 1, 2, 3}) {
        const std::string cached = cache.Render(L"list", songs_, page);
        EXPECT_EQ(WithoutRandomPick(cached), WithoutRandomPick(RenderSongList(songs_, page))) << "page " << page;
        EXPECT_NE(cached.find("<span id=batch_queue"), std::string::npos);
    }
    // Pages 1, 2 and 3; page 9 and page -4 both show page 1.
    EXPECT_EQ(cache.Size(), 3u);
}

TEST_F(SongListCacheTest, ServesTheKeptPageWhileNothingItDependsOnChanged) {
    SongListCache cache;
    cache.Render(L"list", songs_, 1);
    songs_[0]->name = L"Renamed";  // behind the catalogue's back: only a kept page still shows the old name
    const std::string again = cache.Render(L"list", songs_, 1);
    EXPECT_NE(again.find(">Song0</a>"), std::string::npos);
    EXPECT_EQ(again.find("Renamed"), std::string::npos);
    // Another list key is another page.
    EXPECT_NE(cache.Render(L"other", songs_, 1).find(">Renamed</a>"), std::string::npos);
}

TEST_F(SongListCacheTest, AReloadedCatalogueIsRenderedAnew) {
    SongListCache cache;
    cache.Render(L"list", songs_, 1);
    songs_[0]->name = L"Renamed";
    ++songMan_->generation;  // what Reload does
    EXPECT_NE(cache.Render(L"list", songs_, 1).find(">Renamed</a>"), std::string::npos);
}

TEST_F(SongListCacheTest, ChangedMediaRootsAndPageSizeAreRenderedAnew) {
    SongListCache cache;
    EXPECT_NE(cache.Render(L"list", songs_, 1).find("title='/mtv\\dir\\0.mpg'"), std::string::npos);
    settings_->Set(L"setting:MtvRootDir", L"/elsewhere");
    EXPECT_NE(cache.Render(L"list", songs_, 1).find("title='/elsewhere\\dir\\0.mpg'"), std::string::npos);

    // A song without a stored path is found under the second root.
    songs_[1]->path.clear();
    ++songMan_->generation;
    settings_->Set(L"setting:NaduMtvRootDir", L"/nadu");
    EXPECT_NE(cache.Render(L"list", songs_, 1).find("title='/nadu\\VOD\\Singer1-Song1.avi'"), std::string::npos);
    settings_->Set(L"setting:NaduMtvRootDir", L"/nadu2");
    EXPECT_NE(cache.Render(L"list", songs_, 1).find("title='/nadu2\\VOD\\Singer1-Song1.avi'"), std::string::npos);

    settings_->Set(L"setting:PageSize", L"20");
    const std::string page2 = cache.Render(L"list", songs_, 2);
    EXPECT_EQ(WithoutRandomPick(page2), WithoutRandomPick(RenderSongList(songs_, 2)));
    EXPECT_NE(page2.find(">Song20</a>"), std::string::npos);
    EXPECT_EQ(page2.find(">Song19</a>"), std::string::npos);
}

TEST_F(SongListCacheTest, TheLeastRecentlyUsedPageMakesRoom) {
    SongListCache cache(2);
    cache.Render(L"a", songs_, 1);
    cache.Render(L"b", songs_, 1);
    cache.Render(L"a", songs_, 1);  // "a" is now more recent than "b"
    cache.Render(L"c", songs_, 1);  // drops "b"
    EXPECT_EQ(cache.Size(), 2u);
    songs_[0]->name = L"Renamed";
    EXPECT_EQ(cache.Render(L"a", songs_, 1).find("Renamed"), std::string::npos);  // still kept
    EXPECT_NE(cache.Render(L"b", songs_, 1).find(">Renamed</a>"), std::string::npos);  // rendered anew
}

TEST_F(SongListCacheTest, HugePagesAreNotKept) {
    for (int i = 25; i < 3000; ++i) {
        Song* s = new Song;
        s->artist = std::wstring(40, L'A');
        s->album_ref = album_;
        s->name = std::wstring(60, L'N');
        s->id = i;
        s->path = std::wstring(100, L'p');
        songMan_->songs.push_back(s);
    }
    songs_.assign(songMan_->songs.begin(), songMan_->songs.end());
    settings_->Set(L"setting:PageSize", L"3000");
    SongListCache cache;
    const std::string page = cache.Render(L"list", songs_, 1);
    EXPECT_GT(page.size(), 512u * 1024u);
    EXPECT_EQ(cache.Size(), 0u);
    EXPECT_EQ(WithoutRandomPick(page), WithoutRandomPick(RenderSongList(songs_, 1)));
}

}  // namespace
