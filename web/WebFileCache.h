// WebFileCache: the files of the web directory kept in memory between requests. Every page request
// serves the template "index.htm"; opening and reading it each time costs several system calls, where
// checking that it is unchanged costs one. A file is read again as soon as its size, write time or
// identity (device and inode) differ from what was read, so an edited template is served at once.
//
// Threads: web workers call Get concurrently. The map is guarded by the cache's mutex, held only to look
// up and to insert; files are examined and read outside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/ThreadAnnotations.h"

class WebFileCache final {
public:
    WebFileCache() = default;
    WebFileCache(const WebFileCache&) = delete;
    WebFileCache& operator=(const WebFileCache&) = delete;

    enum class Result {
        ok,          // *contents holds the file's bytes
        missing,     // no readable file is there (nothing, a folder, no permission)
        read_error,  // the file could be opened but not read whole
    };
    // The contents of the file at `path` (a path text as the file functions take it).
    Result Get(const std::wstring& path, std::shared_ptr<const std::string>* contents);

    // Files larger than this are read on every request and never kept.
    static constexpr uint64_t kMaxFileBytes = 1 << 20;
    // At most this many files are kept; when full, one is dropped to make room.
    static constexpr size_t kMaxFiles = 64;

private:
    // What tells one state of a file from another: its size, write time and identity.
    struct Stamp {
        uint64_t size = 0;
        uint64_t writeTime = 0;
        uint64_t device = 0;
        uint64_t inode = 0;
        bool operator==(const Stamp&) const = default;
    };
    // The stamp of the file at `path` as it is now; false when no file is there (nothing, or a folder).
    static bool Examine(const std::wstring& path, Stamp* stamp);

    struct Entry {
        Stamp stamp;
        std::shared_ptr<const std::string> contents;
    };

    platform::Mutex m_mutex;
    std::unordered_map<std::wstring, Entry> m_files GUARDED_BY(m_mutex);  // by path text
};
