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
