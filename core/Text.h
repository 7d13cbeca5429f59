// Small text helpers that every layer above the platform shares: ASCII case folding, the leading decimal
// integer of a text, and cutting a text at delimiter characters. One copy of each, here.
//
// Pure functions on wide text (std::wstring, one code point per element) and, where the web reads bytes,
// on narrow text. Thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A to Z become a to z; every other character, including non-ASCII letters, stays as it is. The catalogue
// and the web commands fold only ASCII, so that the same text always folds the same way whatever the
// process locale.
constexpr wchar_t AsciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c; }
constexpr char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// White space as the C library's isspace sees it in the "C" locale: space, \t, \n, \v, \f, \r.
constexpr bool IsAsciiSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }
constexpr bool IsAsciiSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

void AsciiLowerInPlace(std::wstring& text);
std::wstring AsciiLowerCopy(std::wstring_view text);

// Equal when only ASCII letter case differs.
bool EqualsAsciiNoCase(std::wstring_view a, std::wstring_view b);
bool EqualsAsciiNoCase(std::string_view a, std::string_view b);

// The leading decimal integer of a text, read as the C library's atoi reads it: leading white space
// (space, \t, \n, \v, \f, \r), an optional sign, then digits; a text without leading digits gives 0. Unlike
// atoi, a number beyond the 32-bit range is clamped to the nearest end instead of being undefined. Every
// number that comes from the network or from a setting goes through here.
int32_t ParseLeadingInt(std::wstring_view text);
int32_t ParseLeadingInt(std::string_view text);

// Cuts `text` at every delimiter character, skips empty pieces, appends the pieces in order to `list`
// and returns the list's size afterwards.
size_t Split(const std::wstring& text, const wchar_t* delimiters, std::vector<std::wstring>& list);
