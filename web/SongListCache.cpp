#include "web/SongListCache.h"

#include <string_view>

#include "core/Globals.h"
#include "core/Settings.h"
#include "library/SongMan.h"
#include "protocol/SettingKeys.h"
#include "web/PageFragments.h"

namespace {

// A page whose parts are larger than this (a very large page size) is rendered every time rather than
// kept, so that the cache never holds more than a few megabytes.
constexpr size_t kMaxCachedBytes = 512 * 1024;

// Appends a field of the cache key; a zero character separates fields, and no setting or query holds
// one (request texts are cut at their first zero byte).
void AppendField(std::wstring& key, std::wstring_view field) {
    key.append(field);
    key.push_back(L'\0');
}

}  // namespace

SongListCache::SongListCache(size_t capacity) : m_capacity(capacity < 1 ? 1 : capacity) {}

std::string SongListCache::Render(const std::wstring& listKey, const std::vector<Song*>& songs, int32_t page) {
    const SongListLayout layout = LayOutSongList(songs.size(), page);

    std::wstring key;
    key.reserve(listKey.size() + 64);
    AppendField(key, std::to_wstring(g_songMan != nullptr ? g_songMan->generation : 0));
    AppendField(key, std::to_wstring(layout.page));
    AppendField(key, std::to_wstring(layout.pageSize));
    if (g_settings != nullptr) {
        AppendField(key, g_settings->Get(setting_keys::kMtvRootDir, nullptr));
        AppendField(key, g_settings->Get(setting_keys::kNaduMtvRootDir, nullptr));
    }
    AppendField(key, std::to_wstring(songs.size()));
    key.append(listKey);

    std::shared_ptr<const Parts> parts;
    {
        platform::MutexLock lock(m_mutex);
        auto it = m_entries.find(key);
        if (it != m_entries.end()) {
            it->second.lastUse = ++m_useCounter;
            parts = it->second.parts;
        }
    }
    if (parts == nullptr) {
        auto made = std::make_shared<Parts>();
        made->pager = RenderSongListPager(layout);
        made->table = RenderSongTable(songs, layout.first, layout.end);
        parts = made;
        if (made->pager.size() + made->table.size() <= kMaxCachedBytes) {
            platform::MutexLock lock(m_mutex);
            if (m_entries.size() >= m_capacity && m_entries.find(key) == m_entries.end()) {
                auto oldest = m_entries.begin();
                for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
                    if (it->second.lastUse < oldest->second.lastUse) oldest = it;
                }
                m_entries.erase(oldest);
            }
            m_entries[key] = Entry{parts, ++m_useCounter};
        }
    }
    return AssembleSongList(parts->pager, RenderBatchQueueBar(songs, layout.first, layout.end), parts->table);
}

size_t SongListCache::Size() const {
    platform::MutexLock lock(m_mutex);
    return m_entries.size();
}
