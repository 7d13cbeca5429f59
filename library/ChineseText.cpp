#include "library/ChineseText.h"

#include "library/SearchTables.h"

namespace chinese_text {

using search_tables::kFirst;
using search_tables::kLast;

namespace {

bool IsAsciiAlnum(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9'); }

}  // namespace

wchar_t FoldForSearch(wchar_t c) {
    if (c < 0x80) return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
    if (c >= 0xFF10 && c <= 0xFF19) return static_cast<wchar_t>(L'0' + (c - 0xFF10));
    if (c >= 0xFF21 && c <= 0xFF3A) return static_cast<wchar_t>(L'a' + (c - 0xFF21));
    if (c >= 0xFF41 && c <= 0xFF5A) return static_cast<wchar_t>(L'a' + (c - 0xFF41));
    if (static_cast<uint32_t>(c) >= kFirst && static_cast<uint32_t>(c) <= kLast) {
        const uint16_t folded = search_tables::kFolded[static_cast<uint32_t>(c) - kFirst];
        if (folded != 0) return static_cast<wchar_t>(folded);
    }
    return c;
}

std::wstring FoldForSearch(std::wstring_view text) {
    std::wstring out(text);
    for (wchar_t& c : out) c = FoldForSearch(c);
    return out;
}

std::span<const uint16_t> Readings(wchar_t c) {
    if (static_cast<uint32_t>(c) < kFirst || static_cast<uint32_t>(c) > kLast) return {};
    const uint32_t entry = search_tables::kReadingIndex[static_cast<uint32_t>(c) - kFirst];
    return std::span<const uint16_t>(search_tables::kReadingPool + (entry >> 4), entry & 15);
}

std::string_view Syllable(uint16_t number) {
    // The lengths are measured once, not on every look-up.
    static const std::vector<std::string_view> syllables = [] {
        std::vector<std::string_view> all;
        for (uint32_t i = 0; i < search_tables::kSyllableCount; ++i) all.emplace_back(search_tables::kSyllables[i]);
        return all;
    }();
    return number < syllables.size() ? syllables[number] : std::string_view();
}

bool SeparatesUnits(wchar_t c) {
    if (c < 0x80) return !((c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9'));
    return (c >= 0x80 && c <= 0xBF) || c == 0xD7 || c == 0xF7 || (c >= 0x2000 && c <= 0x206F) ||
           (c >= 0x3000 && c <= 0x303F) || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF0F) ||
           (c >= 0xFF1A && c <= 0xFF20) || (c >= 0xFF3B && c <= 0xFF40) || (c >= 0xFF5B && c <= 0xFF65);
}

void PinyinUnits::AddReading(std::string_view text) {
    m_readings.push_back({static_cast<uint32_t>(m_chars.size()), static_cast<uint32_t>(text.size())});
    m_chars.append(text);
    ++m_units.back().count;
}

void PinyinUnits::Assign(std::wstring_view text, std::string_view column) {
    m_chars.clear();
    m_readings.clear();
    m_units.clear();
    m_columnUsed = false;
    bool inWord = false;
    for (const wchar_t original : text) {
        const wchar_t c = FoldForSearch(original);
        if (IsAsciiAlnum(c)) {
            if (!inWord) {
                m_units.push_back({static_cast<uint32_t>(m_readings.size()), 0});
                m_readings.push_back({static_cast<uint32_t>(m_chars.size()), 0});
                m_units.back().count = 1;
                inWord = true;
            }
            m_chars.push_back(static_cast<char>(c));
            ++m_readings.back().length;
            continue;
        }
        inWord = false;
        if (SeparatesUnits(c)) continue;
        m_units.push_back({static_cast<uint32_t>(m_readings.size()), 0});
        std::span<const uint16_t> readings = Readings(original);
        if (readings.empty()) readings = Readings(c);
        for (const uint16_t r : readings) AddReading(Syllable(r));
    }

    if (column.empty() || column.size() != m_units.size()) return;
    // Letters and digits, at least one letter: a collection without pinyin may carry a number in this
    // column, which says nothing about how a name is read.
    bool letter = false;
    for (const char ch : column) {
        const wchar_t c = FoldForSearch(static_cast<wchar_t>(static_cast<unsigned char>(ch)));
        if (!IsAsciiAlnum(c)) return;
        letter = letter || c >= L'a';
    }
    if (!letter) return;
    // The column names each unit's initial: keep the readings that begin with it, or the initial alone
    // when none does (a character the table reads otherwise, or does not know).
    m_columnUsed = true;
    std::vector<Piece> readings;
    readings.reserve(m_readings.size());
    for (size_t i = 0; i < m_units.size(); ++i) {
        const char initial = static_cast<char>(FoldForSearch(static_cast<wchar_t>(column[i])));
        Unit& unit = m_units[i];
        const uint32_t first = static_cast<uint32_t>(readings.size());
        for (uint32_t k = 0; k < unit.count; ++k) {
            const Piece& p = m_readings[unit.first + k];
            if (p.length > 0 && m_chars[p.offset] == initial) readings.push_back(p);
        }
        if (readings.size() == first) {
            readings.push_back({static_cast<uint32_t>(m_chars.size()), 1});
            m_chars.push_back(initial);
        }
        unit.first = first;
        unit.count = static_cast<uint32_t>(readings.size()) - first;
    }
    m_readings.swap(readings);
}

bool PinyinTerm::Prepare(std::wstring_view folded) {
    m_text.clear();
    if (folded.empty() || folded.size() > kMaxLength) return false;
    for (const wchar_t c : folded) {
        if (!IsAsciiAlnum(c)) {
            m_text.clear();
            return false;
        }
        m_text.push_back(static_cast<char>(c));
    }
    return true;
}

void PinyinUnits::AppendPacked(std::string* out) const {
    for (size_t u = 0; u < m_units.size(); ++u) {
        for (size_t k = 0; k < m_units[u].count; ++k) {
            out->append(Reading(u, k));
            out->push_back(kEndOfReading);
        }
        out->push_back(kEndOfUnit);
    }
}

bool PinyinTerm::Matches(const PinyinUnits& units) const {
    std::string packed;
    units.AppendPacked(&packed);
    return Matches(packed);
}

bool PinyinTerm::Matches(std::string_view packed) const {
    const size_t n = m_text.size();
    if (n == 0) return false;
    const char* const term = m_text.data();
    const uint64_t done = uint64_t{1} << n;
    // Bit p of `from`: the first p letters of the term are read by the units before this one (bit 0: a
    // match may also start at this unit). A reading read from position p moves on to p + l + 1 for every
    // l letters of the reading that agree with the term from p on.
    uint64_t from = 1;
    uint64_t next = 0;
    const char* at = packed.data();
    const char* const end = at + packed.size();
    while (at < end) {
        const char c = *at;
        if (c == PinyinUnits::kEndOfUnit) {
            if (next & done) return true;
            from = next | 1;
            next = 0;
            ++at;
            continue;
        }
        // One reading: from `at` to its kEndOfReading.
        const char* const reading = at;
        while (*at != PinyinUnits::kEndOfReading) ++at;
        const size_t length = static_cast<size_t>(at - reading);
        ++at;
        uint64_t starts = from;
        while (starts != 0) {
            const size_t p = static_cast<size_t>(__builtin_ctzll(starts));
            starts &= starts - 1;
            if (term[p] != reading[0]) continue;  // p < n: `from` holds no bit at n or above
            size_t l = 0;
            while (l < length && p + l < n && term[p + l] == reading[l]) {
                next |= uint64_t{1} << (p + l + 1);
                ++l;
            }
        }
    }
    return false;
}

bool PinyinSearchMatches(std::wstring_view foldedTerm, std::wstring_view text, std::string_view column) {
    const std::wstring folded = FoldForSearch(text);
    if (folded.find(foldedTerm) != std::wstring::npos) return true;
    PinyinTerm term;
    if (!term.Prepare(foldedTerm)) return false;
    PinyinUnits units;
    units.Assign(folded, column);
    return term.Matches(units);
}

}  // namespace chinese_text
