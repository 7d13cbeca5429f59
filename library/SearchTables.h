// The data tables of the pinyin search, generated at build time into the build folder
// (library/tables/gen_search_tables.py, run by CMake) from Debian's unicode-data (Unihan readings and
// variants) and libopencc-data (traditional and simplified characters). Read through ChineseText.h.
//
// The tables cover the Han blocks of the Basic Multilingual Plane from U+3400 to U+FAFF. Constant data:
// any thread.
#pragma once

#include <cstdint>

namespace search_tables {

inline constexpr uint32_t kFirst = 0x3400;
inline constexpr uint32_t kLast = 0xFAFF;

// Pinyin syllables without tones, "u" with diaeresis written "v" (and again with "u"), in ASCII order.
extern const char* const kSyllables[];
extern const uint32_t kSyllableCount;
// Syllable numbers of the readings of the characters, each character's readings next to each other.
extern const uint16_t kReadingPool[];
// For character kFirst + i: (index into kReadingPool) << 4 | number of readings; 0 for none.
extern const uint32_t kReadingIndex[kLast - kFirst + 1];
// For character kFirst + i: the simplified character it folds to, or 0 when it stays as it is.
extern const uint16_t kFolded[kLast - kFirst + 1];

}  // namespace search_tables
