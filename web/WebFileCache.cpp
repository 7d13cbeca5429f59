#include "web/WebFileCache.h"

#include <chrono>

#include "platform/FileSystem.h"
#include "core/ByteString.h"

bool WebFileCache::Examine(const std::wstring& path, Stamp* stamp) {
    platform::FileInfo info;
    if (!platform::GetFileInfo(path, &info) || (info.attributes & platform::FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return false;
    }
    *stamp = Stamp{info.size, info.writeTime, info.device, info.inode};
    return true;
}

WebFileCache::Result WebFileCache::Get(const std::wstring& path, std::shared_ptr<const std::string>* contents) {
    Stamp stamp;
    if (!Examine(path, &stamp)) return Result::missing;
    {
        platform::MutexLock lock(m_mutex);
        auto it = m_files.find(path);
        if (it != m_files.end()) {
            if (it->second.stamp == stamp) {
                *contents = it->second.contents;
                return Result::ok;
            }
            m_files.erase(it);
        }
    }

    // Not kept, or changed: read it as a request always did. A file that cannot be opened is not there
    // as far as the web server is concerned.
    if (!nutl::FileExists(path)) return Result::missing;
    auto read = std::make_shared<std::string>();
    if (!nutl::ReadWholeFile(path, read.get())) return Result::read_error;
    *contents = read;

    // Kept only when what was read is what was examined: a file replaced in between is read afresh on
    // the next request instead of being served stale for as long as it stays unchanged. A file written
    // in the last two seconds is not kept either: a second write within the same clock tick and of the
    // same size would leave its write time and size as they were.
    const int64_t nowNanos = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
    const bool settled = platform::UnixNanosFromFileTime(stamp.writeTime) < nowNanos - 2'000'000'000;
    Stamp after;
    if (settled && read->size() <= kMaxFileBytes && read->size() == stamp.size && Examine(path, &after) &&
        after == stamp) {
        platform::MutexLock lock(m_mutex);
        if (m_files.size() >= kMaxFiles) m_files.erase(m_files.begin());
        m_files[path] = Entry{stamp, read};
    }
    return Result::ok;
}
