// PinyinPacker: turns the folded texts of a catalogue into the packed pinyin units that the search index
// keeps (the bytes PinyinUnits::AppendPacked writes) together with the small signatures that let a query
// pass over most texts without reading their units.
//
// It gives exactly what PinyinUnits::Assign followed by AppendPacked gives, but it works out each Han
// character's readings and bits once and then copies them: a catalogue of a million songs has a few
// hundred thousand distinct texts but only a few thousand distinct characters, so this is what makes the
// index cheap to build while the catalogue loads.
//
// One object per build, used by one thread (the one building the index); it keeps its per-character
// results and buffers between texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace chinese_text {

// The 64-bit character signature bit of an ASCII letter or digit, as the index's signatures use it: its
// own bit for each of a-z and 0-9; other characters share the upper bits.
inline uint64_t LetterBit(char c) {
    if (c >= 'a' && c <= 'z') return uint64_t{1} << (c - 'a');
    if (c >= '0' && c <= '9') return uint64_t{1} << (26 + (c - '0'));
    const uint32_t h = static_cast<uint32_t>(static_cast<unsigned char>(c)) * 0x9E3779B1u;
    return uint64_t{1} << (36 + (h >> 27) % 28);
}

// The two bits (0 to 127) of a letter pair in the index's 128-bit pair filter.
inline void PairFilterBits(char a, char b, uint32_t* first, uint32_t* second) {
    const uint32_t key = static_cast<uint32_t>(static_cast<unsigned char>(a)) * 131u + static_cast<unsigned char>(b);
    *first = (key * 0x9E3779B1u) >> 25;
    *second = (key * 0x85EBCA77u) >> 25;
}

// What the index keeps of a text besides its packed units.
struct PinyinSignature {
    uint64_t initials = 0;  // LetterBit of the first letter of every reading
    uint64_t letters = 0;   // LetterBit of every letter of every reading
    uint64_t pairs[2] = {0, 0};  // pair filter of (first, second letter) of every reading and of
                                 // (first letter, first letter of a reading of the next unit)
};

class PinyinPacker final {
public:
    PinyinPacker();

    // Appends the packed units of `folded` (a text folded with FoldForSearch) to `out` and returns its
    // signature. `column`: the index file's pinyin initials of the text, used as PinyinUnits::Assign uses it.
    PinyinSignature Pack(std::wstring_view folded, std::string_view column, std::string* out);

private:
    // One unit: a Han (or other non-separating) character, or a run of ASCII letters and digits.
    struct UnitRef {
        wchar_t c;          // the character; 0 for a run of letters
        uint32_t begin;     // the run in m_word
        uint32_t length;
    };
    // A character's readings and bits, made on first sight.
    struct CharInfo {
        uint32_t packedBegin;   // its packed unit (readings, each ended, then the unit's end) in m_arena
        uint32_t packedLength;
        uint32_t firstsBegin;   // its readings' distinct first letters in m_arena
        uint32_t firstsLength;
        uint64_t initials;
        uint64_t letters;
        uint64_t pairs[2];
    };
    const CharInfo& Info(wchar_t c);
    CharInfo MakeInfo(wchar_t c);

    std::vector<uint32_t> m_slot;  // per table character: 1 + its CharInfo number, 0 before first sight
    std::vector<CharInfo> m_infos;
    std::string m_arena;
    CharInfo m_outside;            // a character outside the tables: no readings
    CharInfo m_scratch;            // the last character outside the tables looked at
    std::vector<UnitRef> m_units;
    std::string m_word;            // the letter runs of the current text
    std::string m_firsts;          // distinct first letters of the previous unit (column and word units)
    std::string m_nextFirsts;
};

}  // namespace chinese_text
