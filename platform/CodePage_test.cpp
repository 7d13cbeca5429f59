#include "platform/CodePage.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>
#include <thread>
#include <vector>

namespace platform {
namespace {

struct RoundTrip {
    unsigned codePage;
    std::wstring text;
    std::string bytes;
};

TEST(CodePageTest, ChineseTextRoundTripsThroughEachCodePage) {
    const std::vector<RoundTrip> cases = {
        {CP_GBK, L"中文", "\xD6\xD0\xCE\xC4"},
        {CP_GBK, L"歌们 Song 1", "\xB8\xE8\xC3\xC7 Song 1"},
        {CP_GBK, L"€", "\x80"},
        {CP_BIG5, L"中文", "\xA4\xA4\xA4\xE5"},
        {CP_BIG5, L"歌麼x", "\xBA\x71\xBB\xF2x"},
        {CP_UTF8, L"中文", "\xE4\xB8\xAD\xE6\x96\x87"},
        {CP_UTF8, L"a😀b", "a\xF0\x9F\x98\x80" "b"},
        {CP_UTF8, L"plain ascii", "plain ascii"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.codePage);
        EXPECT_EQ(WideToMultiByte(c.codePage, c.text), c.bytes);
        EXPECT_EQ(MultiByteToWide(c.codePage, c.bytes), c.text);
    }
    EXPECT_EQ(ToUtf8(L"歌"), "\xE6\xAD\x8C");
    EXPECT_EQ(FromUtf8("\xE6\xAD\x8C"), L"歌");
}

struct BadInput {
    unsigned codePage;
    std::string bytes;
    std::wstring expected;
};

// Bad bytes never stop a conversion: each broken character becomes one "?" and what follows survives.
TEST(CodePageTest, UndecodableBytesBecomeQuestionMarks) {
    const std::vector<BadInput> cases = {
        {CP_GBK, "\xD6\xD0\xCE", L"中?"},                 // truncated double-byte character at the end
        {CP_GBK, "\xFF" "abc", L"?abc"},                  // invalid lead byte
        {CP_GBK, "\x81 x", L"? x"},                       // lead byte followed by a byte outside the trail range
        {CP_GBK, "\xA2\xA0\xD6\xD0", L"?中"},              // unmapped pair counts as one character
        {CP_BIG5, "\xA4\xA4\xFF" "a", L"中?a"},            // invalid lead byte in Big5
        {CP_BIG5, "\xA4 \xA4\xE5", L"? 文"},              // lead byte followed by a space
        {CP_BIG5, "\xA4", L"?"},                          // lone lead byte
        {CP_UTF8, "a\xFF" "b", L"a?b"},
        {CP_UTF8, "\xE4\xB8", L"?"},                      // truncated three-byte sequence at the end
        {CP_UTF8, "\xE4\xB8" "z\xE4\xB8\xAD", L"?z中"},    // truncated sequence in the middle
        {CP_UTF8, "\xED\xA0\x80", L"?"},                  // encoded surrogate
        {CP_UTF8, "\x80\x80", L"??"},                     // stray continuation bytes
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        EXPECT_EQ(MultiByteToWide(c.codePage, c.bytes), c.expected);
    }
}

TEST(CodePageTest, UnmappableCharactersBecomeQuestionMarks) {
    EXPECT_EQ(WideToMultiByte(CP_GBK, L"a한b😀中"), "a?b?\xD6\xD0");
    EXPECT_EQ(WideToMultiByte(CP_BIG5, L"们中"), "?\xA4\xA4");
    // Lone surrogates and values beyond Unicode cannot be written as UTF-8.
    std::wstring odd = L"x";
    odd += static_cast<wchar_t>(0xD800);
    odd += static_cast<wchar_t>(0x110000);
    odd += L"y";
    EXPECT_EQ(ToUtf8(odd), "x??y");
}

TEST(CodePageTest, UnknownCodePageAndEmptyInput) {
    EXPECT_FALSE(IsSupportedCodePage(1252));
    EXPECT_FALSE(IsSupportedCodePage(0));
    EXPECT_TRUE(IsSupportedCodePage(CP_GBK));
    EXPECT_TRUE(IsSupportedCodePage(CP_BIG5));
    EXPECT_TRUE(IsSupportedCodePage(CP_UTF8));
    EXPECT_EQ(MultiByteToWide(1252, "abc"), L"");
    EXPECT_EQ(WideToMultiByte(437, L"abc"), "");
    for (unsigned cp : {CP_GBK, CP_BIG5, CP_UTF8}) {
        EXPECT_EQ(MultiByteToWide(cp, ""), L"");
        EXPECT_EQ(WideToMultiByte(cp, L""), "");
    }
}

TEST(CodePageTest, ZeroBytesAreConvertedLikeAnyOther) {
    const std::string bytes("\xD6\xD0\0\xCE\xC4\0", 6);
    const std::wstring text(L"中\0文\0", 4);
    EXPECT_EQ(MultiByteToWide(CP_GBK, bytes), text);
    EXPECT_EQ(WideToMultiByte(CP_GBK, text), bytes);
    EXPECT_EQ(MultiByteToWide(CP_UTF8, std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
}

// A failed conversion must not leave state behind that garbles the next one, on any thread.
TEST(CodePageTest, ConversionsAfterErrorsAndOnManyThreadsStayCorrect) {
    EXPECT_EQ(MultiByteToWide(CP_GBK, "\xD6"), L"?");
    EXPECT_EQ(MultiByteToWide(CP_GBK, "\xD6\xD0"), L"中");
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            for (int i = 0; i < 2000; ++i) {
                const unsigned cp = (i + t) % 2 ? CP_GBK : CP_BIG5;
                const std::wstring text = L"中文歌" + std::to_wstring(i);
                if (MultiByteToWide(cp, WideToMultiByte(cp, text)) != text) ++failures[t];
            }
        });
    }
    for (auto& th : threads) th.join();
    for (int f : failures) EXPECT_EQ(f, 0);
}

// Destructors of thread-local objects may convert text after the thread's converter cache is gone.
struct ConvertsAtThreadExit {
    std::wstring* out = nullptr;
    ~ConvertsAtThreadExit() {
        if (out != nullptr) *out = MultiByteToWide(CP_GBK, "\xD6\xD0\xCE\xC4");
    }
};

TEST(CodePageTest, ConversionStillWorksDuringThreadExit) {
    std::wstring result;
    std::thread([&result] {
        thread_local ConvertsAtThreadExit late;  // made before the cache, so destroyed after it
        late.out = &result;
        EXPECT_EQ(MultiByteToWide(CP_GBK, "\xB8\xE8"), L"歌");
    }).join();
    EXPECT_EQ(result, L"中文");
}

}  // namespace
}  // namespace platform

namespace {

// Code page 936 goes through a table made once; every character of the Basic Multilingual Plane must
// come out exactly as iconv makes it, "?" where iconv has no code.
TEST(CodePageTable, EveryBmpCharacterMatchesIconv) {
    iconv_t cd = iconv_open("CP936", "WCHAR_T");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    size_t mapped = 0;
    for (uint32_t c = 0x80; c <= 0xFFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF) continue;
        wchar_t in = static_cast<wchar_t>(c);
        char out[8];
        char* inPtr = reinterpret_cast<char*>(&in);
        size_t inLeft = sizeof in;
        char* outPtr = out;
        size_t outLeft = sizeof out;
        std::string expected = "?";
        if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1)) {
            expected.assign(out, sizeof out - outLeft);
            ++mapped;
        } else {
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
        ASSERT_EQ(platform::WideToMultiByte(platform::CP_GBK, std::wstring(1, in)), expected) << std::hex << c;
    }
    iconv_close(cd);
    EXPECT_GT(mapped, 21000u);  // GBK's characters and symbols
    // Beyond the plane and out of range: "?".
    EXPECT_EQ(platform::WideToMultiByte(platform::CP_GBK, std::wstring(1, static_cast<wchar_t>(0x1F600))), "?");
    EXPECT_EQ(platform::WideToMultiByte(platform::CP_GBK, std::wstring(1, static_cast<wchar_t>(-5))), "?");
    EXPECT_EQ(platform::WideToMultiByte(platform::CP_GBK, L"a\u4e2d b"), "a\xd6\xd0 b");
}

}  // namespace
