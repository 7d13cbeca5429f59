// Byte-string and file utilities shared by the web server, the page renderers and the catalogue.
// Pure functions; thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nutl {

// The four characters " ' < > become "&#34;", "&#39;", "&#60;", "&#62;"; every other byte is copied.
std::string HtmlEscape(std::string_view text);

// "+" becomes a space; "%" and two bytes read as hexadecimal digits (stopping at the first byte that is
// not one) give one byte; a "%" with fewer than two bytes after it ends the decoding.
std::string UrlDecode(std::string_view text);

// Splits at the first (or, with fromLast, the last) occurrence of `separator`. Without it, `before` is
// the whole text and `after` is empty. Returns whether the separator occurred.
bool SplitAt(std::string_view text, char separator, std::string* before, std::string* after,
             bool fromLast = false);

// The non-empty runs between separator bytes, in order; only the text up to its first zero byte
// takes part.
std::vector<std::string> Tokenize(std::string_view text, std::string_view separators);

// Replaces the first occurrence of `marker`; returns whether it occurred.
bool ReplaceFirst(std::string& text, std::string_view marker, std::string_view replacement);

// One marker of a page template and the text that takes its place.
struct MarkerFill {
    std::string_view marker;
    std::string_view text;
};
// The template with the first occurrence of each marker replaced by its text, made in one pass: the
// same as calling ReplaceFirst for each pair in turn whenever no text but the last one holds a marker
// of a later pair (texts taken from requests are escaped, so they hold none). Markers that do not occur
// are skipped.
std::string FillMarkers(std::string_view page, const std::vector<MarkerFill>& fills);

std::string IntToString(int32_t value);

// Code-page conversion at the edges (936, 950, 65001). ToWide converts up to the first zero byte.
// Both give an empty result for an unknown code page.
std::wstring ToWide(std::string_view bytes, unsigned codePage);
std::string ToNarrow(std::wstring_view text, unsigned codePage);

// True when the file can be opened for reading.
bool FileExists(std::wstring_view path);
// Reads the whole file (binary); true only when every byte was read.
bool ReadWholeFile(std::wstring_view path, std::string* contents);
// The text after the last "." of the last path component ("/" or "\" end a component); empty if none.
std::wstring FileExtension(std::wstring_view path);
// The same, as a view into `path`.
std::wstring_view FileExtensionView(std::wstring_view path);

}  // namespace nutl
