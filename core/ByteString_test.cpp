#include "core/ByteString.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/CodePage.h"
#include "platform/FileSystem.h"

namespace nutl {
namespace {

using namespace std::string_literals;

TEST(ByteStringTest, HtmlEscapeReplacesOnlyQuotesAndAngleBrackets) {
    EXPECT_EQ(HtmlEscape(R"(<a href="x">Tom's & "Jerry"</a>)"),
              "&#60;a href=&#34;x&#34;&#62;Tom&#39;s & &#34;Jerry&#34;&#60;/a&#62;");
    EXPECT_EQ(HtmlEscape("\xD6\xD0\xCE\xC4&amp;"), "\xD6\xD0\xCE\xC4&amp;");
    EXPECT_EQ(HtmlEscape("a\0b"s), "a\0b"s);
    EXPECT_EQ(HtmlEscape(""), "");
}

TEST(ByteStringTest, UrlDecode) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/a?q=%41%2Bb+c", "/a?q=A+b c"},
        {"/a?v=1%262", "/a?v=1&2"},
        {"/a%4", "/a"},              // "%" with one byte after it ends the decoding
        {"/a%", "/a"},
        {"%4Gx", "\x04x"},           // stops at the first non-digit, both bytes consumed
        {"%G4x", "\0x"s},
        {"%zz", "\0"s},
        {"%e4%B8%ad", "\xE4\xB8\xAD"},  // digits of either case
        {"%00after", "\0after"s},
        {"100%25+sure", "100% sure"},
        {"%%41", "\0" "1"s},         // the second "%" is one of the two consumed bytes
        {"plain", "plain"},
        {"", ""},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(UrlDecode(in), out) << in;
    }
}

TEST(ByteStringTest, SplitAtFirstOrLast) {
    std::string before, after;
    EXPECT_TRUE(SplitAt("a=b=c", '=', &before, &after));
    EXPECT_EQ(before, "a");
    EXPECT_EQ(after, "b=c");
    EXPECT_TRUE(SplitAt("a=b=c", '=', &before, &after, true));
    EXPECT_EQ(before, "a=b");
    EXPECT_EQ(after, "c");
    EXPECT_TRUE(SplitAt("=", '=', &before, &after));
    EXPECT_EQ(before, "");
    EXPECT_EQ(after, "");
    after = "stale";
    EXPECT_FALSE(SplitAt("no separator", '=', &before, &after));
    EXPECT_EQ(before, "no separator");
    EXPECT_EQ(after, "");
    // The text may be a view of one of the results.
    std::string text = "path?query";
    EXPECT_TRUE(SplitAt(text, '?', &text, &after));
    EXPECT_EQ(text, "path");
    EXPECT_EQ(after, "query");
}

TEST(ByteStringTest, TokenizeKeepsNonEmptyRunsUpToAZeroByte) {
    using V = std::vector<std::string>;
    EXPECT_EQ(Tokenize("get  /a?x=1 HTTP/1.0", " "), (V{"get", "/a?x=1", "HTTP/1.0"}));
    EXPECT_EQ(Tokenize("  lead and trail  ", " "), (V{"lead", "and", "trail"}));
    EXPECT_EQ(Tokenize("x=1&&y=&z", "&"), (V{"x=1", "y=", "z"}));
    EXPECT_EQ(Tokenize("a,b;;c", ",;"), (V{"a", "b", "c"}));
    EXPECT_EQ(Tokenize("a&b\0&c"s, "&"), (V{"a", "b"}));
    EXPECT_EQ(Tokenize("\0abc"s, "&"), V{});
    EXPECT_EQ(Tokenize("&&&", "&"), V{});
    EXPECT_EQ(Tokenize("", "&"), V{});
}

TEST(ByteStringTest, ReplaceFirstLeavesLaterOccurrences) {
    std::string page = "<!--M--> and <!--M-->";
    EXPECT_TRUE(ReplaceFirst(page, "<!--M-->", "list"));
    EXPECT_EQ(page, "list and <!--M-->");
    EXPECT_TRUE(ReplaceFirst(page, "<!--M-->", ""));
    EXPECT_EQ(page, "list and ");
    EXPECT_FALSE(ReplaceFirst(page, "<!--M-->", "x"));
    EXPECT_EQ(page, "list and ");
}

TEST(ByteStringTest, FillMarkersMatchesReplacingInTurn) {
    const std::string page = "<head><!-- #Q --></head><!-- #P --><body><!-- #Q --><!-- #LIST --></body><!-- #P -->";
    const std::vector<MarkerFill> fills = {
        {"<!-- #Q -->", "query"}, {"<!-- #NONE -->", "never"}, {"<!-- #P -->", ""}, {"<!-- #LIST -->", "<tr>rows</tr>"}};
    std::string inTurn = page;
    for (const MarkerFill& fill : fills) ReplaceFirst(inTurn, fill.marker, fill.text);
    EXPECT_EQ(FillMarkers(page, fills), inTurn);
    EXPECT_EQ(inTurn, "<head>query</head><body><!-- #Q --><tr>rows</tr></body><!-- #P -->");

    // Markers in another order than the page's, at its very start and end, and none at all.
    EXPECT_EQ(FillMarkers("<!--B-->mid<!--A-->", {{"<!--A-->", "a"}, {"<!--B-->", "b"}}), "bmida");
    EXPECT_EQ(FillMarkers("plain", {{"<!--A-->", "a"}}), "plain");
    EXPECT_EQ(FillMarkers("", {{"<!--A-->", "a"}}), "");
    // An empty marker replaces nothing (ReplaceFirst would insert at the start).
    EXPECT_EQ(FillMarkers("x<!--A-->", {{"", "zz"}, {"<!--A-->", "a"}}), "xa");
}

TEST(ByteStringTest, CodePageConversionAtTheEdges) {
    EXPECT_EQ(ToWide("\xD6\xD0\xCE\xC4", 936), L"中文");
    EXPECT_EQ(ToWide("\xD6\xD0\0\xCE\xC4"s, 936), L"中");  // stops at the first zero byte
    EXPECT_EQ(ToWide("\xE4\xB8\xAD", 65001), L"中");
    EXPECT_EQ(ToWide("\xA4\xA4", 950), L"中");
    EXPECT_EQ(ToWide("abc", 1252), L"");
    EXPECT_EQ(ToNarrow(L"中文", 936), "\xD6\xD0\xCE\xC4");
    EXPECT_EQ(ToNarrow(L"中", 950), "\xA4\xA4");
    EXPECT_EQ(ToNarrow(L"abc", 1252), "");
}

TEST(ByteStringTest, FileExtensionLooksAtTheLastComponentOnly) {
    const std::vector<std::pair<std::wstring, std::wstring>> cases = {
        {L"C:\\Mtv\\song.avi", L"avi"},
        {L"/music/a.b/song.tar.RMVB", L"RMVB"},
        {L"C:\\dir.with.dots\\noext", L""},
        {L"dir.x/noext", L""},
        {L"mixed/dir.y\\file", L""},
        {L"trailing.", L""},
        {L".hidden", L"hidden"},
        {L"中文.mp3", L"mp3"},
        {L"", L""},
    };
    for (const auto& [path, ext] : cases) {
        EXPECT_EQ(FileExtension(path), ext) << platform::ToUtf8(path);
    }
}

TEST(ByteStringTest, ReadWholeFileAndFileExists) {
    const std::string dir = platform::ProfileFolder() + "/bytestring";
    ASSERT_TRUE(platform::EnsureFolder(dir));
    const std::string content = "binary\0\r\n\xFF data"s;
    std::ofstream(dir + "/f.bin", std::ios::binary) << content;
    std::ofstream(dir + "/empty.bin", std::ios::binary).flush();
    const std::wstring file = platform::FromUtf8(dir + "/f.bin");

    EXPECT_TRUE(FileExists(file));
    std::string read = "stale";
    ASSERT_TRUE(ReadWholeFile(file, &read));
    EXPECT_EQ(read, content);
    ASSERT_TRUE(ReadWholeFile(platform::FromUtf8(dir + "/empty.bin"), &read));
    EXPECT_EQ(read, "");

    const std::wstring missing = platform::FromUtf8(dir + "/missing.bin");
    EXPECT_FALSE(FileExists(missing));
    EXPECT_FALSE(ReadWholeFile(missing, &read));
    EXPECT_EQ(read, "");
    EXPECT_FALSE(FileExists(platform::FromUtf8(dir)));  // a folder is not a file
    EXPECT_FALSE(ReadWholeFile(platform::FromUtf8(dir), &read));
}

}  // namespace
}  // namespace nutl
