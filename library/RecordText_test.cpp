#include "library/RecordText.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Texts that stress the buffer sizes and the encodings: empty, one unit, around the allocation steps,
// Chinese, and characters beyond Unicode (negative as a signed wchar_t too).
std::vector<std::wstring> SampleTexts() {
    std::vector<std::wstring> texts = {L"",
                                       L"a",
                                       L"dat",
                                       L"月亮代表我的心",
                                       L"A\\王菲\\月亮代表我的心 (Live).dat",
                                       std::wstring(1, wchar_t{0x7F}) + wchar_t{0x80} + wchar_t{0x7FF} + wchar_t{0x800},
                                       std::wstring(1, wchar_t{0xFFFF}) + wchar_t{0x10000} + wchar_t{0x10FFFF},
                                       std::wstring(1, wchar_t{0xD800}) + wchar_t{0x110000} + wchar_t{0x1FFFFF} +
                                           wchar_t{0x200000} + wchar_t{0x3FFFFFF} + wchar_t{0x4000000} +
                                           wchar_t{0x7FFFFFFF} + static_cast<wchar_t>(-1) +
                                           static_cast<wchar_t>(0x80000000u),
                                       std::wstring(L"a\0b", 3),
                                       std::wstring(1000, L'长')};
    for (size_t n = 1; n <= 40; ++n) texts.push_back(std::wstring(n, L'x'));
    return texts;
}

TEST(RecordTextTest, HoldsAndComparesLikeAWideString) {
    const std::vector<std::wstring> texts = SampleTexts();
    for (const std::wstring& a : texts) {
        const RecordText r(a);
        EXPECT_EQ(r.size(), a.size());
        EXPECT_EQ(r.empty(), a.empty());
        EXPECT_EQ(std::wstring_view(r), a);
        EXPECT_EQ(r.str(), a);
        EXPECT_EQ(r.c_str()[a.size()], L'\0');
        EXPECT_EQ(r + L"|", a + L"|");
        EXPECT_EQ(L"|" + r, L"|" + a);
        for (const std::wstring& b : texts) {
            const RecordText s(b);
            EXPECT_EQ(r == s, a == b);
            EXPECT_EQ(r == b, a == b);
            EXPECT_EQ(r < s, a < b);
            EXPECT_EQ(r < b, a < b);
        }
    }
}

TEST(RecordTextTest, CopiesShareAndWritesNeverReachAnotherCopy) {
    RecordText a(L"王菲");
    RecordText b = a;
    EXPECT_TRUE(b.SharesWith(a));
    const wchar_t* shared = a.data();

    // Assigning to a shared text takes a buffer of its own; the other copy keeps its text.
    b = L"张学友";
    EXPECT_FALSE(b.SharesWith(a));
    EXPECT_EQ(a, L"王菲");
    EXPECT_EQ(a.data(), shared);
    EXPECT_EQ(b, L"张学友");

    // Alone, a text that fits is written in place, also from a view of its own characters.
    const wchar_t* own = b.data();
    b = L"ab";
    EXPECT_EQ(b.data(), own);
    b.assign(std::wstring_view(b).substr(1));
    EXPECT_EQ(b, L"b");
    EXPECT_EQ(b.data(), own);

    // Moving hands the buffer over; clearing and self-assignment leave sound texts.
    RecordText c = std::move(a);
    EXPECT_EQ(c.data(), shared);
    EXPECT_TRUE(a.empty());  // NOLINT: the moved-from state is empty
    c = c;
    EXPECT_EQ(c, L"王菲");
    c.clear();
    EXPECT_TRUE(c.empty());
    EXPECT_EQ(c.c_str()[0], L'\0');

    // Blanking keeps a buffer held alone (the next text fills it) but lets go of a shared one.
    RecordText d(L"朋友");
    const wchar_t* kept = d.data();
    d.Blank();
    EXPECT_TRUE(d.empty());
    EXPECT_EQ(std::wstring_view(d), L"");
    d = L"友";
    EXPECT_EQ(d.data(), kept);
    RecordText e = d;
    e.Blank();
    EXPECT_TRUE(e.empty());
    EXPECT_EQ(d, L"友");
    // Shares made uncounted and counted afterwards in one go: the buffer lives exactly as long as the
    // last of them (the sanitizer builds report an early or a missing release).
    auto owner = std::make_unique<RecordText>(L"张学友");
    std::vector<RecordText> records(100);
    for (RecordText& r : records) r.ShareUncounted(*owner);
    owner->AddShares(static_cast<uint32_t>(records.size()));
    owner.reset();
    records.resize(1);
    EXPECT_EQ(records[0], L"张学友");
    records[0].ShareUncounted(records[0]);  // its own buffer: the share stays, uncounted
    records[0].AddShares(1);
}

TEST(RecordPathTest, GivesBackExactlyWhatWasAssigned) {
    for (const std::wstring& text : SampleTexts()) {
        const RecordPath path(text);
        EXPECT_EQ(path.wide(), text);
        EXPECT_TRUE(path == text);
        EXPECT_EQ(path.empty(), text.empty());
    }
    // Unicode text is stored as UTF-8.
    EXPECT_EQ(RecordPath(L"A\\王菲.dat").bytes(), "A\\\xE7\x8E\x8B\xE8\x8F\xB2.dat");
    // Random 32-bit characters.
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        std::wstring text(static_cast<size_t>(rng() % 20), L' ');
        for (wchar_t& c : text) c = static_cast<wchar_t>(rng() >> (rng() % 32));
        EXPECT_EQ(RecordPath(text).wide(), text);
    }
    EXPECT_FALSE(RecordPath(L"a") == L"b");
    EXPECT_EQ(RecordPath(L"x") + L"|", L"x|");
    std::ostringstream out;
    out << RecordText(L"王") << RecordPath(L"菲");
    EXPECT_EQ(out.str(), "\xE7\x8E\x8B\xE8\x8F\xB2");
}

}  // namespace
