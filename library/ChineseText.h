// What the pinyin search knows about Chinese text: folding a character for searching (letter case,
// fullwidth letters and digits, traditional to simplified), the pinyin readings of a character, a text
// cut into the units that pinyin is matched against, and a search term matched against such units.
//
// Pinyin matching. A text is a row of units: each Han character is a unit read by any of its readings
// (polyphonic characters have several), each run of Latin letters and digits is a unit read as itself in
// small letters, and spaces and punctuation separate units without being one. A term matches when it can
// be cut into pieces, each a non-empty beginning of a reading of one unit, for a run of consecutive
// units: "ydb" (initials), "yueliang" (full pinyin), "yueliangd" (typing on), "yuel" and "mhwgo" (the
// initials of "My Heart Will Go On") all work the same way. A character no table knows has no reading
// and can only be found by its text.
//
// The pinyin column of an index file (one initial per unit, such as "PY") decides between the readings of
// polyphonic characters when it agrees with the text's units; otherwise the table's readings are used.
//
// Tables: SearchTables.h. Everything here is plain data and functions; objects are used by one thread
// at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace chinese_text {

// A-Z to a-z, fullwidth letters and digits to ASCII (letters small), traditional characters to
// simplified; every other character unchanged.
wchar_t FoldForSearch(wchar_t c);
// The text with every character folded.
std::wstring FoldForSearch(std::wstring_view text);

// The syllable numbers of a character's readings (table order); empty when the table has none.
std::span<const uint16_t> Readings(wchar_t c);
// The text of a syllable number, such as "zhong".
std::string_view Syllable(uint16_t number);

// A space, a punctuation mark or an ASCII character other than a letter or digit: no pinyin unit.
bool SeparatesUnits(wchar_t c);

// A text cut into pinyin units (see above). Assign may be called again; buffers are kept.
class PinyinUnits final {
public:
    // `column`: the index file's pinyin initials of this text (empty when there are none). Used when it
    // holds only ASCII letters and digits, one per unit, and at least one letter.
    void Assign(std::wstring_view text, std::string_view column = {});

    size_t Count() const { return m_units.size(); }
    bool ColumnUsed() const { return m_columnUsed; }
    // The readings of unit `i`, in small ASCII letters and digits.
    size_t ReadingCount(size_t i) const { return m_units[i].count; }
    std::string_view Reading(size_t i, size_t k) const {
        const Piece& p = m_readings[m_units[i].first + k];
        return std::string_view(m_chars).substr(p.offset, p.length);
    }

    // Appends the units in the packed form PinyinTerm::Matches reads: each unit is its readings, each
    // followed by kEndOfReading, then kEndOfUnit. Readings never hold these two bytes.
    static constexpr char kEndOfReading = '\x01';
    static constexpr char kEndOfUnit = '\x00';
    void AppendPacked(std::string* out) const;

private:
    struct Piece {
        uint32_t offset;
        uint32_t length;
    };
    struct Unit {
        uint32_t first;  // into m_readings
        uint32_t count;
    };
    void AddReading(std::string_view text);

    std::string m_chars;
    std::vector<Piece> m_readings;
    std::vector<Unit> m_units;
    bool m_columnUsed = false;
};

// A term prepared for pinyin matching.
class PinyinTerm final {
public:
    // Longest term matched by pinyin (one bit per position of the term).
    static constexpr size_t kMaxLength = 63;

    // `folded`: a term folded with FoldForSearch. False (and nothing can match) unless it is 1 to
    // kMaxLength ASCII letters and digits.
    bool Prepare(std::wstring_view folded);
    const std::string& Text() const { return m_text; }
    bool Matches(const PinyinUnits& units) const;
    // The same on units packed with PinyinUnits::AppendPacked (what the search index keeps).
    bool Matches(std::string_view packed) const;

private:
    std::string m_text;
};

// Whether a term matches a text in the pinyin search: the term (folded with FoldForSearch) is part of the
// folded text, or matches its units by pinyin. `column`: the text's pinyin column, if any. Checks one
// text directly; SearchIndex gives the same answers for whole catalogues.
bool PinyinSearchMatches(std::wstring_view foldedTerm, std::wstring_view text, std::string_view column = {});

}  // namespace chinese_text
