// Splitting index lines into fields, on their bytes (library/IndexLoader.cpp).
//
// Lines are split into fields on their bytes, before anything is converted. The separators "," and the
// double quote are single bytes below 0x40: they never occur inside a double-byte character of code page
// 936 (its second byte is 0x40 or above), and the converter never takes one into a broken character (a
// bad lead byte before it becomes one "?" of its own). So the fields of a line's bytes, each converted,
// are exactly the fields of the whole line converted. Numbers read the same from the bytes: digits, signs
// and white space are ASCII, and no double-byte character converts to ASCII. Only the fields that become
// text are converted at all.
//
// Threads: pure functions; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace index_loading {

constexpr size_t kArtistFields = 5;  // an artist line needs fields 0 to 4
constexpr size_t kSongFields = 14;   // a song line needs fields 0 to 13

// Fields are the maximal runs of bytes other than "," and the double quote; empty fields do not exist, so
// ",," counts as one separator and quotes never protect a comma. Stores the first `limit` fields and
// returns how many there are (at most `limit`): a caller that needs fields 0 to n-1 and must know whether
// the line has that many passes n.
//
// The line is looked at 64 bytes at a time as a mask of separator positions: a field starts where a
// non-separator follows a separator (or the line's start) and ends where a separator follows a
// non-separator; the bytes past the line's end count as separators. The last block is read whole, so
// the 63 bytes after the line must be readable (IndexFile::kSlack); what they hold does not matter.
size_t SplitFields(std::string_view line, std::string_view* fields, size_t limit);

// A field without the line feed that ended the line (the feed counts while fields are counted but never
// belongs to a text value).
inline std::string_view FieldText(std::string_view field) {
    if (!field.empty() && field.back() == '\n') field.remove_suffix(1);
    return field;
}

}  // namespace index_loading
