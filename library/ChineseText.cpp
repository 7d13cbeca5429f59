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
    for (const char ch : column) {
        const wchar_t c = FoldForSearch(static_cast<wchar_t>(static_cast<unsigned char>(ch)));
        if (!IsAsciiAlnum(c)) return;
    }
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

bool PinyinTerm::Matches(const PinyinUnits& units) const {
    const size_t n = m_text.size();
    if (n == 0) return false;
    const uint64_t done = uint64_t{1} << n;
    // Bit p of `reached`: the first p letters of the term are read by the units up to this one.
    uint64_t reached = 0;
    for (size_t u = 0; u < units.Count(); ++u) {
        uint64_t next = 0;
        uint64_t from = reached | 1;  // a match may also start at this unit
        while (from != 0) {
            const size_t p = static_cast<size_t>(__builtin_ctzll(from));
            from &= from - 1;
            for (size_t k = 0; k < units.ReadingCount(u); ++k) {
                const std::string_view r = units.Reading(u, k);
                for (size_t l = 0; l < r.size() && p + l < n && m_text[p + l] == r[l]; ++l) {
                    next |= uint64_t{1} << (p + l + 1);
                }
            }
        }
        if (next & done) return true;
        reached = next;
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
