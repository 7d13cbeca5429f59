// The fragments are the pages' wire format, so these tests compare exact bytes.
#include "web/PageFragments.h"

#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <set>

#include "core/Globals.h"
#include "core/Settings.h"
#include "library/SongMan.h"
#include "platform/CodePage.h"

namespace {

std::string G(std::wstring_view text) { return platform::WideToMultiByte(platform::CP_GBK, text); }

class FragmentsTest : public ::testing::Test {
protected:
    void SetUp() override {
        settings_ = std::make_unique<Settings>(L"SinjoFragmentsTest");
        settings_->Load();
        settings_->Set(L"setting:MtvRootDir", L"/mtv");
        songMan_ = std::make_unique<SongMan>();
        g_settings = settings_.get();
        g_songMan = songMan_.get();
        album_ = new Album;
        album_->kind = folder_album;
        album_->name = L"专辑";
        album_->dir = L"专辑";
        songMan_->albums.push_back(album_);
        artist_ = new Artist;
        artist_->id = 1;
        artist_->name = L"歌手";
        songMan_->artists.push_back(artist_);
    }
    void TearDown() override {
        g_songMan = nullptr;
        g_settings = nullptr;
    }

    Song* AddSong(const std::wstring& artist, const std::wstring& name, const std::wstring& fullPath) {
        Song* s = new Song;
        s->artist = artist;
        s->artist_ref = artist_;
        s->album_ref = album_;
        s->name = name;
        s->id = static_cast<int32_t>(songMan_->songs.size());
        s->full_path = fullPath;
        s->ext = L"mp3";
        songMan_->songs.push_back(s);
        return s;
    }
    std::vector<Song*> AddSongs(int n) {
        for (int i = 0; i < n; ++i) AddSong(L"A", L"S" + std::to_wstring(i), L"/m/" + std::to_wstring(i) + L".mp3");
        return std::vector<Song*>(songMan_->songs.begin(), songMan_->songs.end());
    }

    static size_t Count(const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
        return n;
    }

    std::unique_ptr<Settings> settings_;
    std::unique_ptr<SongMan> songMan_;
    Album* album_ = nullptr;
    Artist* artist_ = nullptr;
};

const char kPagerHead[] = "<table width=100%><tr><td align=left>";

TEST_F(FragmentsTest, EmptySongListHasPagersAndHeaderOnly) {
    const std::string pager =
        kPagerHead + G(L"第 1 页 (共 0 页)") +
        "</td><td align=center><table width=100%><tr><td></td></tr></table></td><td width=200 align=right>" +
        G(L"<span class=disabled>上一页</span> | <span class=disabled>下一页</span>") + "</td></tr></table>";
    const std::string header = G(
        L"<td width=150 class=header title='按歌手排序' onclick=\"SortSongs('artist')\">歌手</td>"
        L"<td width=200 class=header title='按专辑排序' onclick=\"SortSongs('album')\">专辑</td>"
        L"<td class=header title='按歌曲名排序' onclick=\"SortSongs('name')\">歌曲</td>"
        L"<td class=header title='类型' onclick=\"SortSongs('ext')\">文件类型</td>");
    EXPECT_EQ(RenderSongList({}, 1),
              pager + "<table width='100%' cellpadding=3 cellspacing=0><tr>" + header + "</tr></table>" + pager);
}

TEST_F(FragmentsTest, SongRowIsExact) {
    Song* s = AddSong(L"歌手", L"朋友", L"/m/朋友.mp3");
    const std::string list = RenderSongList({s}, 1);
    const std::string row =
        "<tr class=even><td><a href=\"JavaScript:SearchFor('" + G(L"歌手") + "')\">" + G(L"歌手") +
        "</a></td><td><a href=\"JavaScript:SearchFor('" + G(L"专辑") + "')\">" + G(L"专辑") +
        "</a></td><td><a href='javascript:QueueSong(0)' title='" + G(L"/m/朋友.mp3") + "'>" + G(L"朋友") +
        "</a></td><td><a href=\"JavaScript:SearchFor('mp3')\">mp3</a></td></tr>\n";
    EXPECT_NE(list.find(row), std::string::npos) << list;
}

TEST_F(FragmentsTest, PagingWith450SongsAndPageSize200) {
    const std::vector<Song*> songs = AddSongs(450);
    const std::string page3 = RenderSongList(songs, 3);
    EXPECT_NE(page3.find(G(L"第 3 页 (共 3 页)")), std::string::npos);
    EXPECT_EQ(Count(page3, "<tr class=even>") + Count(page3, "<tr class=odd>"), 50u);
    EXPECT_NE(page3.find("QueueSong(400)"), std::string::npos);
    EXPECT_NE(page3.find("QueueSong(449)"), std::string::npos);
    EXPECT_EQ(page3.find("QueueSong(399)"), std::string::npos);
    EXPECT_NE(page3.find("<a href='JavaScript:ChangePage(2)'>" + G(L"上一页") + "</a>"), std::string::npos);
    EXPECT_NE(page3.find(G(L"<span class=disabled>下一页</span>")), std::string::npos);
    // Page numbers 1, 2 and the current 3 (in red).
    EXPECT_NE(page3.find("<a href='JavaScript:ChangePage(1)'>1</a>&nbsp;<a href='JavaScript:ChangePage(2)'>2</a>"
                         "&nbsp;<span style='color:red'>3</span>&nbsp;"),
              std::string::npos);

    const std::string page5 = RenderSongList(songs, 5);
    EXPECT_NE(page5.find(G(L"第 1 页 (共 3 页)")), std::string::npos);
    EXPECT_NE(page5.find("QueueSong(0)"), std::string::npos);
    EXPECT_EQ(page5.find("QueueSong(200)"), std::string::npos);

    // A page number that would overflow when multiplied by the page size falls back to page 1.
    EXPECT_NE(RenderSongList(songs, 2147483647).find(G(L"第 1 页")), std::string::npos);
}

TEST_F(FragmentsTest, PageSizeBelowOneCountsAsOne) {
    const std::vector<Song*> songs = AddSongs(3);
    for (const wchar_t* size : {L"0", L"-5"}) {
        settings_->Set(L"setting:PageSize", size);
        const std::string page2 = RenderSongList(songs, 2);
        EXPECT_NE(page2.find(G(L"第 2 页 (共 3 页)")), std::string::npos) << page2;
        EXPECT_NE(page2.find("QueueSong(1)"), std::string::npos);
        EXPECT_EQ(page2.find("QueueSong(0)"), std::string::npos);
        EXPECT_EQ(page2.find("QueueSong(2)"), std::string::npos);
    }
}

TEST_F(FragmentsTest, PagerLinks) {
    // Page 5 of 20: pages at distances 1, 2, 4, 8 and both ends.
    EXPECT_EQ(RenderPager(5, 20, 800, 200, 4000),
              kPagerHead + G(L"第 5 页 (共 20 页)") + "</td><td align=center><table width=100%><tr><td>" +
                  "<a href='JavaScript:ChangePage(1)'>1</a>&nbsp;<a href='JavaScript:ChangePage(3)'>3</a>&nbsp;"
                  "<a href='JavaScript:ChangePage(4)'>4</a>&nbsp;<span style='color:red'>5</span>&nbsp;"
                  "<a href='JavaScript:ChangePage(6)'>6</a>&nbsp;<a href='JavaScript:ChangePage(7)'>7</a>&nbsp;"
                  "<a href='JavaScript:ChangePage(9)'>9</a>&nbsp;<a href='JavaScript:ChangePage(13)'>13</a>&nbsp;"
                  "<a href='JavaScript:ChangePage(20)'>20</a>&nbsp;"
                  "</td></tr></table></td><td width=200 align=right>"
                  "<a href='JavaScript:ChangePage(4)'>" + G(L"上一页") + "</a> | "
                  "<a href='JavaScript:ChangePage(6)'>" + G(L"下一页") + "</a></td></tr></table>");
    // Two pages in all: no numbers, only the previous and next links.
    EXPECT_EQ(RenderPager(1, 2, 0, 200, 300),
              kPagerHead + G(L"第 1 页 (共 2 页)") +
                  "</td><td align=center><table width=100%><tr><td></td></tr></table></td><td width=200 align=right>" +
                  G(L"<span class=disabled>上一页</span>") + " | <a href='JavaScript:ChangePage(2)'>" + G(L"下一页") +
                  "</a></td></tr></table>");
}

TEST_F(FragmentsTest, CatalogueTextIsInsertedUnescaped) {
    Song* s = AddSong(L"O'Brien <b>", L"T", L"/m/t.mp3");
    EXPECT_NE(RenderSongList({s}, 1).find("SearchFor('O'Brien <b>')\">O'Brien <b></a>"), std::string::npos);
}

TEST_F(FragmentsTest, BatchQueueBars) {
    const std::vector<Song*> songs = AddSongs(60);
    // A page of 45 songs starting at index 10.
    const std::string bar = RenderBatchQueueBar(songs, 10, 55);
    const std::string prefix = "<div style='margin-bottom:5'>" +
                               G(L"<a href=\"JavaScript:ToggleBatchQueue()\">批量添加本页歌曲&gt;&gt;</a>&nbsp;&nbsp;") +
                               "<span id=batch_queue style='display:none'><a href=JavaScript:QueueSong('";
    ASSERT_EQ(bar.substr(0, prefix.size()), prefix);
    std::string groups;
    for (int g = 0; g < 3; ++g) {
        const int from = 10 + g * 20, to = std::min(from + 20, 55);
        groups += "<a href=JavaScript:QueueSong('";
        for (int i = from; i < to; ++i) groups += (i > from ? "," : "") + std::to_string(i);
        groups += "')>" + std::to_string(from - 9) + "-" + std::to_string(to - 10) + "</a>&nbsp;";
    }
    ASSERT_NE(bar.find(groups + "</span></div>"), std::string::npos) << bar;
    // The random pick: 20 distinct ids of the page.
    const std::string pick = bar.substr(prefix.size(), bar.find("')>", prefix.size()) - prefix.size());
    std::set<int> ids;
    for (size_t start = 0; start < pick.size();) {
        size_t comma = pick.find(',', start);
        if (comma == std::string::npos) comma = pick.size();
        ids.insert(std::stoi(pick.substr(start, comma - start)));
        start = comma + 1;
    }
    EXPECT_EQ(ids.size(), 20u);
    EXPECT_GE(*ids.begin(), 10);
    EXPECT_LE(*ids.rbegin(), 54);
    EXPECT_NE(bar.find(G(L"')>随机20首</a>&nbsp;")), std::string::npos);

    // One song: only the group link 1-1; nothing for an empty range.
    EXPECT_EQ(RenderBatchQueueBar(songs, 7, 8),
              "<div style='margin-bottom:5'>" +
                  G(L"<a href=\"JavaScript:ToggleBatchQueue()\">批量添加本页歌曲&gt;&gt;</a>&nbsp;&nbsp;") +
                  "<span id=batch_queue style='display:none'><a href=JavaScript:QueueSong('7')>1-1</a>&nbsp;"
                  "</span></div>");
    EXPECT_EQ(RenderBatchQueueBar(songs, 5, 5), "");
}

TEST_F(FragmentsTest, ArtistListWithSevenArtists) {
    std::vector<Artist*> artists;
    for (int i = 0; i < 7; ++i) {
        Artist* a = new Artist;
        a->name = L"歌手" + std::to_wstring(i);
        a->song_count = i + 1;
        songMan_->artists.push_back(a);
        artists.push_back(a);
    }
    const std::string list = RenderArtistList(artists, L"male,mainland");
    EXPECT_EQ(Count(list, "<tr class=even>"), 1u);
    EXPECT_EQ(Count(list, "<tr class=odd>"), 1u);
    EXPECT_EQ(Count(list, "<td width=200>&nbsp;</td>"), 3u);
    EXPECT_NE(list.find("<td width=200><a href=\"JavaScript:SearchFor('" + G(L"歌手6") + "')\">" + G(L"歌手6") +
                        " (7)</a></td><td width=200>&nbsp;</td><td width=200>&nbsp;</td><td width=200>&nbsp;</td></tr>"),
              std::string::npos);
    EXPECT_NE(list.find("<a href=\"JavaScript:ShowArtists('male,mainland')\"><span style='color:red'>" +
                        G(L"大陆男歌手") + "</span></a>"),
              std::string::npos);
    const std::string head = "<center><h3><a href=\"JavaScript:ShowArtists('')\">" + G(L"所有") + "</a> | ";
    EXPECT_EQ(list.substr(0, head.size()), head);
    EXPECT_NE(list.find(G(L"<div class=summary>共 7 位歌手</div>")), std::string::npos);
}

TEST_F(FragmentsTest, AlbumListUsesRowsOfThree) {
    std::vector<Album*> albums(songMan_->albums.begin(), songMan_->albums.end());
    album_->song_count = 2;
    EXPECT_EQ(RenderAlbumList(albums),
              G(L"<h1>所有专辑</h1>") + "<table width='100%' cellpadding=2 cellspacing=0><tr class=even>" +
                  "<td width=200><a href=\"JavaScript:SearchFor('" + G(L"专辑") + "')\">" + G(L"专辑") +
                  " (2)</a></td><td width=200>&nbsp;</td><td width=200>&nbsp;</td></tr></table>" +
                  G(L"<div class=summary>共 1 专辑</div>"));
}

TEST_F(FragmentsTest, QueueListRows) {
    Song* a = AddSong(L"甲", L"一", L"/m/<a>.mp3");
    songMan_->queue = {a};
    EXPECT_EQ(RenderQueueList(), "<table width='100%' cellpadding=2 cellspacing=0>\n"
                                 "<tr class=top><td style='' title='/m/&#60;a&#62;.mp3'>" + G(L"甲: 一") +
                                 "</td><td width=20>&nbsp;</td><td width=20>&nbsp;</td></tr>\n</table>\n");

    Song* b = AddSong(L"乙", L"二", L"/m/b.mp3");
    Song* c = AddSong(L"丙", L"三", L"/m/c.mp3");
    songMan_->queue = {a, b, c};
    const std::string list = RenderQueueList();
    EXPECT_NE(list.find("<tr class=odd><td style='' title='/m/b.mp3'>" + G(L"乙: 二") + "</td><td>&nbsp;</td>" +
                        G(L"<td><input type=button title='删除' value=X onclick=\"RemoveQSong(1,1)\">") + "</tr>\n"),
              std::string::npos)
        << list;
    EXPECT_NE(list.find("<tr class=even><td>" + G(L"<a title='点击插播：") + "/m/c.mp3' href=\"JavaScript:MoveQSongFront(2,2)\">" +
                        G(L"丙: 三") + "</a></td>" +
                        G(L"<td><input type=button title='上移' value=^ onclick=\"MoveQSongUp(2,2)\">") +
                        G(L"<td><input type=button title='删除' value=X onclick=\"RemoveQSong(2,2)\">") + "</tr>\n"),
              std::string::npos)
        << list;
}

TEST_F(FragmentsTest, ControlStatusScript) {
    songMan_->random_play = true;
    songMan_->audio_source = 2;  // "left"
    settings_->Set(L"pref:FullScreen", L"TRUE");
    EXPECT_EQ(RenderControlStatus(),
              "document.getElementById('karaoke').style.color = 'black';\n"
              "document.getElementById('original').style.color = 'black';\n"
              "document.getElementById('left').style.color = 'green';\n"
              "document.getElementById('right').style.color = 'black';\n"
              "document.getElementById('stereo').style.color = 'black';\n"
              "document.getElementById('audio_source').value = '" + G(L"左声道") + "';\n"
              "document.getElementById('check_fullscreen').checked = true;\n"
              "document.getElementById('random_play').style.color = 'green';\n");
    songMan_->random_play = false;
    settings_->Set(L"pref:FullScreen", L"yes");
    const std::string off = RenderControlStatus();
    EXPECT_NE(off.find("checked = false;\n"), std::string::npos);
    EXPECT_NE(off.find("'random_play').style.color = 'black';\n"), std::string::npos);
}

}  // namespace
