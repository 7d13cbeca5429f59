// The HTML fragments and the control script that the web pages are built from: the song list with its
// pager and batch-queue bar, the artist list with its category links, the album list, the queue list,
// and the script that reports the state of the player controls.
//
// Every fragment is a byte string in code page 936. Catalogue text is inserted as it is (only the queue
// list's tooltips are escaped); the element names, attribute forms, class names and script calls are the
// pages' wire format and must not change. Callers hold g_songMan->lock for the whole call (the web
// dispatcher does). The Chinese texts are converted to code page 936 once, on first use.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct Song;
struct Artist;
struct Album;

// One page of `songs`: pager, batch-queue bar, the table, pager again. Page size from
// "setting:PageSize" (default 200, below 1 counts as 1); a page out of range shows page 1.
std::string RenderSongList(const std::vector<Song*>& songs, int32_t page);

// RenderSongList in its parts, for callers that keep the parts which do not change between requests
// (see SongListCache): the layout of a page, the pager, the table of songs[first] .. songs[end - 1], and
// the fragment made of them (pager, batch-queue bar, table, pager again).
struct SongListLayout {
    int32_t page = 1;       // the page shown (1 when the asked-for page is out of range)
    int32_t pageCount = 0;
    int32_t first = 0;      // index of the page's first song
    int32_t end = 0;        // one past the page's last song
    int32_t pageSize = 1;   // from "setting:PageSize"
    int32_t total = 0;      // songs in the list
};
SongListLayout LayOutSongList(size_t songCount, int32_t page);
std::string RenderSongListPager(const SongListLayout& layout);
std::string RenderSongTable(const std::vector<Song*>& songs, int32_t first, int32_t end);
std::string AssembleSongList(const std::string& pager, const std::string& batchBar, const std::string& table);
std::string RenderPager(int32_t page, int32_t pageCount, int32_t first, int32_t pageSize, int32_t total);
// The hidden batch bar for songs[first] .. songs[end - 1]; reshuffles its random pick on every call.
std::string RenderBatchQueueBar(const std::vector<Song*>& songs, int32_t first, int32_t end);
std::string RenderArtistList(const std::vector<Artist*>& artists, const std::wstring& selected);
std::string RenderCategoryLink(std::string_view key, const std::wstring& selected, std::string_view label);
std::string RenderAlbumList(const std::vector<Album*>& albums);
// The play queue of g_songMan as a table.
std::string RenderQueueList();
// Script statements that colour the audio source and random-play controls and set the full-screen box.
std::string RenderControlStatus();
