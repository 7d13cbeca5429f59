// Code-page conversion through iconv: 936 (GBK), 950 (Big5) and 65001 (UTF-8).
//
// Like the platform converters, a conversion never fails on one bad character: an undecodable byte
// sequence or an unmappable character becomes "?" and conversion goes on. Only an unknown code page
// gives an empty result. A double-byte lead byte followed by a byte of the trail range counts as one
// broken character (one "?"); any other bad byte is one "?", so an ASCII byte after a stray lead byte
// survives; a broken UTF-8 sequence is one "?" per lead byte with its continuation bytes.
// Thread-safe: conversion descriptors are cached per thread, so converting a short text costs no
// iconv_open; pure ASCII skips iconv altogether.
#pragma once

#include <string>
#include <string_view>

namespace platform {

constexpr unsigned CP_GBK = 936;
constexpr unsigned CP_BIG5 = 950;
constexpr unsigned CP_UTF8 = 65001;

bool IsSupportedCodePage(unsigned codePage);

// Bytes in `codePage` to wide text (one wchar_t per code point). Converts all of `bytes`, zero bytes
// included; callers that stop at a zero byte cut the input first.
std::wstring MultiByteToWide(unsigned codePage, std::string_view bytes);

// Wide text to bytes in `codePage`.
std::string WideToMultiByte(unsigned codePage, std::wstring_view text);

// Shorthands for UTF-8 (native paths, environment, logs).
std::string ToUtf8(std::wstring_view text);
std::wstring FromUtf8(std::string_view bytes);

}  // namespace platform
