#include "library/PinyinPacker.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "library/ChineseText.h"

namespace {

using chinese_text::FoldForSearch;
using chinese_text::LetterBit;
using chinese_text::PinyinPacker;
using chinese_text::PinyinSignature;
using chinese_text::PinyinUnits;

// The signature worked out from PinyinUnits the plain way: every reading of every unit, and every pair of
// readings of neighbouring units.
PinyinSignature ReferenceSignature(const PinyinUnits& units) {
    PinyinSignature sig;
    auto addPair = [&](char a, char b) {
        uint32_t x, y;
        chinese_text::PairFilterBits(a, b, &x, &y);
        sig.pairs[x / 64] |= uint64_t{1} << (x % 64);
        sig.pairs[y / 64] |= uint64_t{1} << (y % 64);
    };
    for (size_t u = 0; u < units.Count(); ++u) {
        for (size_t k = 0; k < units.ReadingCount(u); ++k) {
            const std::string_view r = units.Reading(u, k);
            if (r.empty()) continue;
            sig.initials |= LetterBit(r[0]);
            for (char c : r) sig.letters |= LetterBit(c);
            if (r.size() >= 2) addPair(r[0], r[1]);
            if (u + 1 == units.Count()) continue;
            for (size_t j = 0; j < units.ReadingCount(u + 1); ++j) {
                const std::string_view next = units.Reading(u + 1, j);
                if (!next.empty()) addPair(r[0], next[0]);
            }
        }
    }
    return sig;
}

void ExpectSameAsUnits(PinyinPacker& packer, const std::wstring& text, const std::string& column) {
    const std::wstring folded = FoldForSearch(text);
    PinyinUnits units;
    units.Assign(folded, column);
    std::string expected = "prefix";  // Pack appends: what was there stays
    units.AppendPacked(&expected);
    const PinyinSignature want = ReferenceSignature(units);

    std::string packed = "prefix";
    const PinyinSignature got = packer.Pack(folded, column, &packed);
    const std::string where = "text of " + std::to_string(text.size()) + " characters, column \"" + column + "\"";
    ASSERT_EQ(packed, expected) << where;
    EXPECT_EQ(got.initials, want.initials) << where;
    EXPECT_EQ(got.letters, want.letters) << where;
    EXPECT_EQ(got.pairs[0], want.pairs[0]) << where;
    EXPECT_EQ(got.pairs[1], want.pairs[1]) << where;
}

TEST(PinyinPackerTest, NamedCasesPackAsTheUnitsDo) {
    PinyinPacker packer;
    const struct {
        const wchar_t* text;
        const char* column;
    } cases[] = {
        {L"朋友", ""},
        {L"朋友", "PY"},
        {L"重庆森林", "CQSL"},          // polyphonic first character, the column picks one reading
        {L"重庆森林", "ZQSL"},
        {L"重庆森林", "XQSL"},          // the column names a reading the table lacks: the initial alone
        {L"重庆森林", "CQS"},           // wrong length: ignored
        {L"重庆森林", "1234"},          // no letter: ignored
        {L"重庆森林", "C-SL"},          // not letters and digits: ignored
        {L"愛情 Love Story", "AQLS"},   // traditional, Latin words as units
        {L"愛情 Love Story", "aqxs"},   // a word whose initial differs from the column's
        {L"ＡＢＣ１２３ 你好", ""},      // fullwidth letters and digits
        {L"", ""},
        {L"   ...!!", ""},
        {L"ひらがな한국어☃", ""},        // characters no table reads: empty units
        {L"ひらがな", "ABCD"},
        {L"月亮代表我的心", "YLDBWDX"},
        {L"a", "A"},
    };
    for (const auto& c : cases) ExpectSameAsUnits(packer, c.text, c.column);
}

// Random texts and columns against PinyinUnits: the packer's per-character shortcuts must never change
// a byte or a bit.
TEST(PinyinPackerTest, RandomTextsPackAsTheUnitsDo) {
    const std::wstring alphabet =
        L"朋友月亮代表我的心重庆行乐长还好爱愛國国會会說说发發后後乾干"  // common, polyphonic, both forms
        L"abcXYZ019ＡＺａ０ "                                               // Latin, digits, fullwidth
        L" ,.-()!《》、。"                                                   // separators
        L"ひ한☃\u00e9\u3400\ufaff";                                           // outside or at the tables' ends
    std::mt19937 rng(20);
    PinyinPacker packer;  // one packer for every text, as the index uses it
    for (int round = 0; round < 3000; ++round) {
        std::wstring text;
        const int length = static_cast<int>(rng() % 12);
        for (int i = 0; i < length; ++i) text.push_back(alphabet[rng() % alphabet.size()]);
        std::string column;
        switch (rng() % 4) {
        case 0:
            break;
        case 1: {  // one letter per unit, often the right count
            PinyinUnits units;
            units.Assign(FoldForSearch(text));
            const size_t count = units.Count() + (rng() % 4 == 0 ? 1 : 0);
            for (size_t i = 0; i < count; ++i) column.push_back(static_cast<char>((rng() % 2 ? 'a' : 'A') + rng() % 26));
            break;
        }
        case 2:
            for (int i = 0; i < length; ++i) column.push_back(static_cast<char>('0' + rng() % 10));
            break;
        default:
            for (int i = 0; i < length; ++i) column.push_back(static_cast<char>(' ' + rng() % 95));
            break;
        }
        ExpectSameAsUnits(packer, text, column);
        if (HasFatalFailure()) return;
    }
}

}  // namespace
