// SongListCache: rendered song list pages kept between requests. A page of 200 songs takes tens of
// microseconds to render (every title, artist, album and file path converted to code page 936), while
// phones mostly ask for the same few pages again; the cache keeps each page's pager and song table and
// makes only the batch-queue bar afresh, since that is reshuffled on every call.
//
// A cached page is found again only while everything it was rendered from is unchanged: the catalogue
// (SongMan::generation), the list (named by the caller's key), the page shown, the page size and the two
// media roots that the file paths are made from. Anything else misses and renders anew; old entries age
// out, least recently used first.
//
// Threads: web workers call Render with g_songMan->lock held (the songs are read). The cache's own
// state is guarded by its mutex, held only to look up and to insert, never while rendering.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/ThreadAnnotations.h"

struct Song;

class SongListCache final {
public:
    explicit SongListCache(size_t capacity = 32);
    SongListCache(const SongListCache&) = delete;
    SongListCache& operator=(const SongListCache&) = delete;

    // Exactly what RenderSongList(songs, page) gives. `listKey` names the list: the same key must give
    // the same list for as long as the catalogue's generation stays the same (the web server uses the
    // query and the sort order). Call with g_songMan->lock held.
    std::string Render(const std::wstring& listKey, const std::vector<Song*>& songs, int32_t page);

    // Entries held now (for tests).
    size_t Size() const;

private:
    struct Parts {
        std::string pager;
        std::string table;
    };
    struct Entry {
        std::shared_ptr<const Parts> parts;
        uint64_t lastUse = 0;
    };

    const size_t m_capacity;
    mutable platform::Mutex m_mutex;
    std::unordered_map<std::wstring, Entry> m_entries GUARDED_BY(m_mutex);  // by the full key (see Render)
    uint64_t m_useCounter GUARDED_BY(m_mutex) = 0;                          // stamps lastUse
};
