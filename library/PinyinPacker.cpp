#include "library/PinyinPacker.h"

#include "library/ChineseText.h"
#include "library/SearchTables.h"

namespace chinese_text {

namespace {

bool IsAsciiAlnum(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9'); }

void AddPair(PinyinSignature* sig, char a, char b) {
    uint32_t x, y;
    PairFilterBits(a, b, &x, &y);
    sig->pairs[x >> 6] |= uint64_t{1} << (x & 63);
    sig->pairs[y >> 6] |= uint64_t{1} << (y & 63);
}

// The bits of one reading, as the index's signatures count them.
void AddReadingBits(PinyinSignature* sig, std::string_view r) {
    if (r.empty()) return;
    sig->initials |= LetterBit(r[0]);
    for (const char c : r) sig->letters |= LetterBit(c);
    if (r.size() >= 2) AddPair(sig, r[0], r[1]);
}

void AddFirst(std::string* firsts, char c) {
    if (firsts->find(c) == std::string::npos) firsts->push_back(c);
}

}  // namespace

PinyinPacker::PinyinPacker() : m_slot(search_tables::kLast - search_tables::kFirst + 1, 0) {
    // A character without readings: an empty unit.
    m_arena.push_back(PinyinUnits::kEndOfUnit);
    m_outside = CharInfo{0, 1, 1, 0, 0, 0, {0, 0}};
}

PinyinPacker::CharInfo PinyinPacker::MakeInfo(wchar_t c) {
    // As PinyinUnits::Assign reads a unit's character: its own readings, else those of its folded form.
    std::span<const uint16_t> readings = Readings(c);
    if (readings.empty()) readings = Readings(FoldForSearch(c));
    if (readings.empty()) return m_outside;
    CharInfo info{};
    PinyinSignature sig;
    info.packedBegin = static_cast<uint32_t>(m_arena.size());
    std::string firsts;
    for (const uint16_t number : readings) {
        const std::string_view r = Syllable(number);
        m_arena.append(r);
        m_arena.push_back(PinyinUnits::kEndOfReading);
        AddReadingBits(&sig, r);
        if (!r.empty()) AddFirst(&firsts, r[0]);
    }
    m_arena.push_back(PinyinUnits::kEndOfUnit);
    info.packedLength = static_cast<uint32_t>(m_arena.size()) - info.packedBegin;
    info.firstsBegin = static_cast<uint32_t>(m_arena.size());
    info.firstsLength = static_cast<uint32_t>(firsts.size());
    m_arena.append(firsts);
    info.initials = sig.initials;
    info.letters = sig.letters;
    info.pairs[0] = sig.pairs[0];
    info.pairs[1] = sig.pairs[1];
    return info;
}

const PinyinPacker::CharInfo& PinyinPacker::Info(wchar_t c) {
    const uint32_t code = static_cast<uint32_t>(c);
    if (code < search_tables::kFirst || code > search_tables::kLast) {
        // Outside the tables only a folded form could have readings, and none does today; made afresh each
        // time rather than cached, so that nothing grows without bound.
        m_scratch = MakeInfo(c);
        return m_scratch;
    }
    uint32_t& slot = m_slot[code - search_tables::kFirst];
    if (slot == 0) {
        m_infos.push_back(MakeInfo(c));
        slot = static_cast<uint32_t>(m_infos.size());
    }
    return m_infos[slot - 1];
}

PinyinSignature PinyinPacker::Pack(std::wstring_view folded, std::string_view column, std::string* out) {
    // The units, as PinyinUnits::Assign cuts them.
    m_units.clear();
    m_word.clear();
    bool inWord = false;
    for (const wchar_t original : folded) {
        const wchar_t c = FoldForSearch(original);
        if (IsAsciiAlnum(c)) {
            if (!inWord) {
                m_units.push_back({0, static_cast<uint32_t>(m_word.size()), 0});
                inWord = true;
            }
            m_word.push_back(static_cast<char>(c));
            ++m_units.back().length;
            continue;
        }
        inWord = false;
        if (SeparatesUnits(c)) continue;
        m_units.push_back({original, 0, 0});
    }

    // The column decides the readings when it names one initial per unit, in letters and digits with at
    // least one letter.
    bool useColumn = !column.empty() && column.size() == m_units.size();
    if (useColumn) {
        bool letter = false;
        for (const char ch : column) {
            const wchar_t c = FoldForSearch(static_cast<wchar_t>(static_cast<unsigned char>(ch)));
            if (!IsAsciiAlnum(c)) {
                useColumn = false;
                break;
            }
            letter = letter || c >= L'a';
        }
        useColumn = useColumn && letter;
    }

    PinyinSignature sig;
    m_firsts.clear();
    for (size_t i = 0; i < m_units.size(); ++i) {
        const UnitRef& unit = m_units[i];
        m_nextFirsts.clear();
        if (!useColumn) {
            if (unit.c != 0) {
                const CharInfo& info = Info(unit.c);
                out->append(m_arena, info.packedBegin, info.packedLength);
                sig.initials |= info.initials;
                sig.letters |= info.letters;
                sig.pairs[0] |= info.pairs[0];
                sig.pairs[1] |= info.pairs[1];
                m_nextFirsts.append(m_arena, info.firstsBegin, info.firstsLength);
            } else {
                const std::string_view word = std::string_view(m_word).substr(unit.begin, unit.length);
                out->append(word);
                out->push_back(PinyinUnits::kEndOfReading);
                out->push_back(PinyinUnits::kEndOfUnit);
                AddReadingBits(&sig, word);
                m_nextFirsts.push_back(word[0]);
            }
        } else {
            // Only the readings that begin with the column's initial, or the initial alone when none does.
            const char initial = static_cast<char>(FoldForSearch(static_cast<wchar_t>(static_cast<unsigned char>(column[i]))));
            bool kept = false;
            auto keep = [&](std::string_view r) {
                if (r.empty() || r[0] != initial) return;
                out->append(r);
                out->push_back(PinyinUnits::kEndOfReading);
                AddReadingBits(&sig, r);
                kept = true;
            };
            if (unit.c != 0) {
                const CharInfo& info = Info(unit.c);
                const std::string_view packed = std::string_view(m_arena).substr(info.packedBegin, info.packedLength - 1);
                size_t at = 0;
                while (at < packed.size()) {
                    const size_t end = packed.find(PinyinUnits::kEndOfReading, at);
                    keep(packed.substr(at, end - at));
                    at = end + 1;
                }
            } else {
                keep(std::string_view(m_word).substr(unit.begin, unit.length));
            }
            if (!kept) {
                out->push_back(initial);
                out->push_back(PinyinUnits::kEndOfReading);
                AddReadingBits(&sig, std::string_view(&initial, 1));
            }
            out->push_back(PinyinUnits::kEndOfUnit);
            m_nextFirsts.push_back(initial);
        }
        // (first letter, first letter of the next unit) for every pair of readings of neighbouring units.
        for (const char a : m_firsts) {
            for (const char b : m_nextFirsts) AddPair(&sig, a, b);
        }
        m_firsts.swap(m_nextFirsts);
    }
    return sig;
}

}  // namespace chinese_text
