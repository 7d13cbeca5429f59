#include "web/PageFragments.h"

#include <algorithm>
#include <climits>
#include <random>

#include "core/ByteString.h"
#include "core/Globals.h"
#include "core/Settings.h"
#include "core/Text.h"
#include "library/SongMan.h"
#include "platform/CodePage.h"
#include "platform/Tick.h"
#include "protocol/SettingKeys.h"

namespace {

using nutl::IntToString;

std::string Gbk(std::wstring_view text) { return nutl::ToNarrow(text, platform::CP_GBK); }

// The fixed texts of the fragments that carry Chinese, converted to code page 936 once.
struct FixedTexts {
    std::string headerCells;
    std::string pageWord;       // "第 "
    std::string pageOfWord;     // " 页 (共 "
    std::string pagesWord;      // " 页)"
    std::string prevDisabled;
    std::string prevLinkTail;   // ")'>上一页</a>"
    std::string nextDisabled;
    std::string nextLinkTail;   // ")'>下一页</a>"
    std::string batchToggle;
    std::string randomWord;     // "')>随机"
    std::string songsWord;      // "首</a>&nbsp;"
    std::string allLabel;       // "所有"
    std::string artistSortLinks;
    std::string artistSummary;  // "<div class=summary>共 "
    std::string artistSummaryTail;
    std::string albumTitle;
    std::string albumSummaryTail;
    std::string queueFrontTitle;  // "<a title='点击插播："
    std::string upButton;         // "<td><input type=button title='上移' value=^ onclick=\"MoveQSongUp("
    std::string removeButton;     // "<td><input type=button title='删除' value=X onclick=\"RemoveQSong("
    std::vector<std::pair<std::string, std::string>> categories;  // key, label
};

const FixedTexts& Texts() {
    static const FixedTexts texts = [] {
        FixedTexts t;
        t.headerCells = Gbk(
            L"<td width=150 class=header title='按歌手排序' onclick=\"SortSongs('artist')\">歌手</td>"
            L"<td width=200 class=header title='按专辑排序' onclick=\"SortSongs('album')\">专辑</td>"
            L"<td class=header title='按歌曲名排序' onclick=\"SortSongs('name')\">歌曲</td>"
            L"<td class=header title='类型' onclick=\"SortSongs('ext')\">文件类型</td>");
        t.pageWord = Gbk(L"第 ");
        t.pageOfWord = Gbk(L" 页 (共 ");
        t.pagesWord = Gbk(L" 页)");
        t.prevDisabled = Gbk(L"<span class=disabled>上一页</span>");
        t.prevLinkTail = Gbk(L")'>上一页</a>");
        t.nextDisabled = Gbk(L"<span class=disabled>下一页</span>");
        t.nextLinkTail = Gbk(L")'>下一页</a>");
        t.batchToggle = Gbk(L"<a href=\"JavaScript:ToggleBatchQueue()\">批量添加本页歌曲&gt;&gt;</a>&nbsp;&nbsp;");
        t.randomWord = Gbk(L"')>随机");
        t.songsWord = Gbk(L"首</a>&nbsp;");
        t.allLabel = Gbk(L"所有");
        t.artistSortLinks = Gbk(
            L"<center><div style='margin-top:10px'><a href=\"JavaScript:SortArtists('name')\">按名字排序</a>"
            L" | <a href=\"JavaScript:SortArtists('song_count')\">按歌曲数量排序</a></div></center><br>");
        t.artistSummary = Gbk(L"<div class=summary>共 ");
        t.artistSummaryTail = Gbk(L" 位歌手</div>");
        t.albumTitle = Gbk(L"<h1>所有专辑</h1>");
        t.albumSummaryTail = Gbk(L" 专辑</div>");
        t.queueFrontTitle = Gbk(L"<a title='点击插播：");
        t.upButton = Gbk(L"<td><input type=button title='上移' value=^ onclick=\"MoveQSongUp(");
        t.removeButton = Gbk(L"<td><input type=button title='删除' value=X onclick=\"RemoveQSong(");
        const std::pair<const char*, const wchar_t*> categories[] = {
            {"male,hongkong_taiwan", L"港台男歌手"}, {"female,hongkong_taiwan", L"港台女歌手"},
            {"male,mainland", L"大陆男歌手"},        {"female,mainland", L"大陆女歌手"},
            {"band", L"乐队组合"},                   {"unknown", L"其他"},
        };
        for (const auto& [key, label] : categories) t.categories.emplace_back(key, Gbk(label));
        return t;
    }();
    return texts;
}

int32_t PageSize() {
    int32_t size = g_settings != nullptr ? g_settings->GetInt(setting_keys::kPageSize, setting_keys::kDefaultPageSize)
                                          : setting_keys::kDefaultPageSize;
    return size < 1 ? 1 : size;
}

// "<td><a href=\"JavaScript:SearchFor('X')\">X</a></td>"
void AppendSearchCell(std::string& out, const std::string& text) {
    out += "<td><a href=\"JavaScript:SearchFor('";
    out += text;
    out += "')\">";
    out += text;
    out += "</a></td>";
}

const std::wstring& AlbumName(const Song* song) {
    static const std::wstring empty;
    return song->album_ref != nullptr ? song->album_ref->name : empty;
}

// A table body of `columns` cells of 200 pixels per row, one cell per record: its name as a search link
// with its song count. Cells past the last record are empty.
template <class Record>
void AppendNameGrid(std::string& out, const std::vector<Record*>& records, size_t columns) {
    const size_t count = records.size();
    for (size_t row = 0; row * columns < count; ++row) {
        out += "<tr class=";
        out += (row % 2 == 0) ? "even" : "odd";
        out += ">";
        for (size_t j = 0; j < columns; ++j) {
            const size_t k = row * columns + j;
            if (k >= count) {
                out += "<td width=200>&nbsp;</td>";
                continue;
            }
            const std::string name = Gbk(records[k]->name);
            out += "<td width=200><a href=\"JavaScript:SearchFor('";
            out += name;
            out += "')\">";
            out += name;
            out += " (";
            out += IntToString(records[k]->song_count);
            out += ")</a></td>";
        }
        out += "</tr>";
    }
}

}  // namespace

SongListLayout LayOutSongList(size_t songCount, int32_t page) {
    SongListLayout layout;
    layout.pageSize = PageSize();
    const int64_t total = static_cast<int64_t>(std::min<size_t>(songCount, INT32_MAX));
    if (page < 1) page = 1;
    // 64-bit, so that a huge page number from a link cannot overflow.
    int64_t first = (static_cast<int64_t>(page) - 1) * layout.pageSize;
    if (total == 0 || first >= total) {
        page = 1;
        first = 0;
    }
    layout.page = page;
    layout.pageCount = static_cast<int32_t>((total + layout.pageSize - 1) / layout.pageSize);
    layout.first = static_cast<int32_t>(first);
    layout.end = static_cast<int32_t>(std::min<int64_t>(first + layout.pageSize, total));
    layout.total = static_cast<int32_t>(total);
    return layout;
}

std::string RenderSongListPager(const SongListLayout& layout) {
    return RenderPager(layout.page, layout.pageCount, layout.first, layout.pageSize, layout.total);
}

std::string RenderSongTable(const std::vector<Song*>& songs, int32_t first, int32_t end) {
    const FixedTexts& t = Texts();
    std::string out;
    out.reserve(static_cast<size_t>(std::max(end - first, 0)) * 320 + 1000);
    out += "<table width='100%' cellpadding=3 cellspacing=0>";
    out += "<tr>";
    out += t.headerCells;
    out += "</tr>";
    for (int32_t i = first; i < end; ++i) {
        const Song* s = songs[static_cast<size_t>(i)];
        out += "<tr class=";
        out += (i % 2 == 0) ? "even" : "odd";
        out += ">";
        AppendSearchCell(out, Gbk(s->artist));
        AppendSearchCell(out, Gbk(AlbumName(s)));
        out += "<td><a href='javascript:QueueSong(";
        out += IntToString(s->id);
        out += ")' title='";
        out += Gbk(g_songMan != nullptr ? g_songMan->GetSongFilePath(s) : std::wstring());
        out += "'>";
        out += Gbk(s->name);
        out += "</a></td>";
        AppendSearchCell(out, Gbk(s->ext));
        out += "</tr>\n";
    }
    out += "</table>";
    return out;
}

std::string AssembleSongList(const std::string& pager, const std::string& batchBar, const std::string& table) {
    std::string out;
    out.reserve(2 * pager.size() + batchBar.size() + table.size());
    out += pager;
    out += batchBar;
    out += table;
    out += pager;
    return out;
}

std::string RenderSongList(const std::vector<Song*>& songs, int32_t page) {
    const SongListLayout layout = LayOutSongList(songs.size(), page);
    return AssembleSongList(RenderSongListPager(layout), RenderBatchQueueBar(songs, layout.first, layout.end),
                            RenderSongTable(songs, layout.first, layout.end));
}

std::string RenderPager(int32_t page, int32_t pageCount, int32_t first, int32_t pageSize, int32_t total) {
    const FixedTexts& t = Texts();
    std::string out = "<table width=100%><tr><td align=left>";
    out += t.pageWord;
    out += IntToString(page);
    out += t.pageOfWord;
    out += IntToString(pageCount);
    out += t.pagesWord;
    out += "</td>";

    // The pages at distances 1, 2, 4, 8, ... on either side, and the page itself.
    std::vector<int64_t> numbers;
    int64_t step = 1;
    for (;;) {
        bool addedBelow = false;
        if (page - step >= 1) {
            numbers.push_back(page - step);
            addedBelow = true;
        }
        if (page + step <= pageCount) {
            numbers.push_back(page + step);
            step *= 2;
        } else if (addedBelow) {
            step *= 2;
        } else {
            numbers.push_back(page);
            break;
        }
    }
    std::sort(numbers.begin(), numbers.end());
    if (numbers.front() != 1) numbers.insert(numbers.begin(), 1);
    if (numbers.back() != pageCount) numbers.push_back(pageCount);

    out += "<td align=center><table width=100%><tr><td>";
    if (numbers.size() >= 3) {
        for (int64_t x : numbers) {
            const std::string n = IntToString(static_cast<int32_t>(x));
            if (x == page) {
                out += "<span style='color:red'>" + n + "</span>";
            } else {
                out += "<a href='JavaScript:ChangePage(" + n + ")'>" + n + "</a>";
            }
            out += "&nbsp;";
        }
    }
    out += "</td></tr></table></td>";
    out += "<td width=200 align=right>";
    if (page < 2) {
        out += t.prevDisabled;
    } else {
        out += "<a href='JavaScript:ChangePage(" + IntToString(page - 1);
        out += t.prevLinkTail;
    }
    out += " | ";
    if (static_cast<int64_t>(first) + pageSize >= total) {
        out += t.nextDisabled;
    } else {
        out += "<a href='JavaScript:ChangePage(" + IntToString(page + 1);
        out += t.nextLinkTail;
    }
    out += "</td></tr></table>";
    return out;
}

std::string RenderBatchQueueBar(const std::vector<Song*>& songs, int32_t first, int32_t end) {
    const int32_t n = end - first;
    if (n <= 0) return std::string();
    const FixedTexts& t = Texts();
    std::string out = "<div style='margin-bottom:5'>";
    out += t.batchToggle;
    out += "<span id=batch_queue style='display:none'>";
    if (n >= 2) {
        std::vector<int32_t> ids;
        ids.reserve(static_cast<size_t>(n));
        for (int32_t i = first; i < end; ++i) ids.push_back(songs[static_cast<size_t>(i)]->id);
        std::mt19937 generator(platform::GetTickCount());
        std::shuffle(ids.begin(), ids.end(), generator);
        const int32_t kept = std::min(20, n);
        out += "<a href=JavaScript:QueueSong('";
        for (int32_t k = 0; k < kept; ++k) {
            if (k > 0) out += ",";
            out += IntToString(ids[static_cast<size_t>(k)]);
        }
        out += t.randomWord;
        out += IntToString(kept);
        out += t.songsWord;
    }
    for (int32_t groupStart = first; groupStart < end; groupStart += 20) {
        const int32_t groupEnd = std::min(groupStart + 20, end);
        out += "<a href=JavaScript:QueueSong('";
        for (int32_t i = groupStart; i < groupEnd; ++i) {
            if (i > groupStart) out += ",";
            out += IntToString(songs[static_cast<size_t>(i)]->id);
        }
        out += "')>";
        out += IntToString(groupStart - first + 1);
        out += "-";
        out += IntToString(groupEnd - first);
        out += "</a>&nbsp;";
    }
    out += "</span>";
    out += "</div>";
    return out;
}

std::string RenderCategoryLink(std::string_view key, const std::wstring& selected, std::string_view label) {
    std::string out = "<a href=\"JavaScript:ShowArtists('";
    out += key;
    out += "')\">";
    if (key == nutl::ToNarrow(selected, platform::CP_UTF8)) {
        out += "<span style='color:red'>";
        out += label;
        out += "</span>";
    } else {
        out += label;
    }
    out += "</a>";
    return out;
}

std::string RenderArtistList(const std::vector<Artist*>& artists, const std::wstring& selected) {
    const FixedTexts& t = Texts();
    std::string out = "<center><h3>";
    out += RenderCategoryLink("", selected, t.allLabel);
    for (const auto& [key, label] : t.categories) {
        out += " | ";
        out += RenderCategoryLink(key, selected, label);
    }
    out += "</center></h3>";
    out += t.artistSortLinks;
    out += "</center><br>";
    out += "<table width='100%' cellpadding=2 cellspacing=0>";
    AppendNameGrid(out, artists, 5);
    out += "</table>";
    out += t.artistSummary;
    out += IntToString(static_cast<int32_t>(artists.size()));
    out += t.artistSummaryTail;
    return out;
}

std::string RenderAlbumList(const std::vector<Album*>& albums) {
    const FixedTexts& t = Texts();
    std::string out = t.albumTitle;
    out += "<table width='100%' cellpadding=2 cellspacing=0>";
    AppendNameGrid(out, albums, 3);
    out += "</table>";
    out += t.artistSummary;
    out += IntToString(static_cast<int32_t>(albums.size()));
    out += t.albumSummaryTail;
    return out;
}

std::string RenderQueueList() {
    const FixedTexts& t = Texts();
    std::string out = "<table width='100%' cellpadding=2 cellspacing=0>\n";
    if (g_songMan == nullptr) {
        out += "</table>\n";
        return out;
    }
    platform::RecursiveMutexLock catalogueLock(g_songMan->lock);  // the request holds it already; it is recursive
    const size_t count = g_songMan->queue.size();
    for (size_t i = 0; i < count; ++i) {
        const Song* s = g_songMan->queue[i];
        const std::string tip = nutl::HtmlEscape(Gbk(g_songMan->GetSongFilePath(s)));
        const std::string text = Gbk(s->artist + L": " + s->name);
        const std::string args = IntToString(static_cast<int32_t>(i)) + "," + IntToString(s->id);
        out += "<tr class=";
        out += i == 0 ? "top" : (i % 2 == 0 ? "even" : "odd");
        out += ">";
        if (i >= 2) {
            out += "<td>";
            out += t.queueFrontTitle;
            out += tip;
            out += "' href=\"JavaScript:MoveQSongFront(" + args + ")\">";
            out += text;
            out += "</a></td>";
            out += t.upButton + args + ")\">";
            out += t.removeButton + args + ")\">";
        } else {
            out += "<td style='' title='" + tip + "'>";
            out += text;
            out += "</td>";
            if (i == 1) {
                out += "<td>&nbsp;</td>";
                out += t.removeButton + args + ")\">";
            } else {
                out += "<td width=20>&nbsp;</td><td width=20>&nbsp;</td>";
            }
        }
        out += "</tr>\n";
    }
    out += "</table>\n";
    return out;
}

std::string RenderControlStatus() {
    std::string out;
    int32_t current = 0;
    bool randomPlay = false;
    if (g_songMan != nullptr) {
        platform::RecursiveMutexLock catalogueLock(g_songMan->lock);
        current = g_songMan->audio_source;
        randomPlay = g_songMan->random_play;
    }
    for (int32_t code = 0; code < kAudioSourceCount; ++code) {
        out += "document.getElementById('";
        out += platform::ToUtf8(kAudioSourceNames[code]);
        out += "').style.color = '";
        out += code == current ? "green" : "black";
        out += "';\n";
    }
    out += "document.getElementById('audio_source').value = '";
    if (g_songMan != nullptr) out += Gbk(g_songMan->AudioSourceDisplayName());
    out += "';\n";
    const std::wstring fullScreen = g_settings != nullptr ? g_settings->Get(setting_keys::kFullScreen, nullptr) : L"";
    out += EqualsAsciiNoCase(fullScreen, L"true") ? "document.getElementById('check_fullscreen').checked = true;\n"
                                 : "document.getElementById('check_fullscreen').checked = false;\n";
    out += randomPlay
               ? "document.getElementById('random_play').style.color = 'green';\n"
               : "document.getElementById('random_play').style.color = 'black';\n";
    return out;
}
