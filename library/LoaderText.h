// Small text tests shared by the catalogue loader's files (IndexLoader.cpp, IndexFields.cpp,
// UserFolderScan.cpp). Letter case (core/Text.h) and white space are ASCII only, as the index format and
// the file names of the user folders need.
//
// Threads: pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

#include "core/ByteString.h"
#include "core/Text.h"
#include "library/RecordText.h"

namespace index_loading {

inline bool IsPathSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Sets `ext` to the lower-case extension of `path` (nutl::FileExtension), reusing the string's storage:
// the loader sets one per song.
inline void SetExtension(std::wstring* ext, std::wstring_view path) {
    ext->assign(nutl::FileExtensionView(path));
    AsciiLowerInPlace(*ext);
}

// Sets the song extension `ext` to the lower-case extension of `path`. Songs of a collection have a handful
// of extensions: when it is the text of `last` (the previous song's), the two share one buffer; `last`
// then names this song's extension for the next call.
inline void SetExtension(RecordText* ext, std::wstring_view path, RecordText* last) {
    const std::wstring_view raw = nutl::FileExtensionView(path);
    bool same = raw.size() == last->size();
    for (size_t i = 0; same && i < raw.size(); ++i) same = AsciiLower(raw[i]) == (*last)[i];
    if (!same) {
        std::wstring lower(raw);
        AsciiLowerInPlace(lower);
        *last = lower;
    }
    *ext = *last;
}

}  // namespace index_loading
