// Small text tests shared by the catalogue loader's files (IndexLoader.cpp, IndexFields.cpp,
// UserFolderScan.cpp). Letter case (core/Text.h) and white space are ASCII only, as the index format and
// the file names of the user folders need.
//
// Threads: pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

#include "core/Text.h"

namespace index_loading {

inline bool IsPathSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// White space as the C library sees it in the "C" locale.
inline bool IsAsciiSpace(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

// Sets `ext` to the lower-case extension of `path`: the text after the last "." that follows the last
// "\" or "/"; empty without such a dot.
inline void SetExtension(std::wstring* ext, std::wstring_view path) {
    ext->clear();
    for (size_t i = path.size(); i-- > 0;) {
        if (path[i] == L'.') {
            ext->assign(path.substr(i + 1));
            AsciiLowerInPlace(*ext);
            return;
        }
        if (IsPathSeparator(path[i])) return;
    }
}

}  // namespace index_loading
