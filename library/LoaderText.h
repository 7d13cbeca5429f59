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

namespace index_loading {

inline bool IsPathSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Sets `ext` to the lower-case extension of `path` (nutl::FileExtension), reusing the string's storage:
// the loader sets one per song.
inline void SetExtension(std::wstring* ext, std::wstring_view path) {
    ext->assign(nutl::FileExtensionView(path));
    AsciiLowerInPlace(*ext);
}

}  // namespace index_loading
