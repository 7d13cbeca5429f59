// The QR encoder against a real reader: every symbol is drawn as an image and read back with zbarimg
// (Debian's zbar-tools), which must give the text exactly. Capacities and fixed patterns are checked
// against the standard's figures.
#include "app/QrCode.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

// The symbol as a greyscale image (PGM), `scale` pixels a module, with the four-module quiet zone.
void WritePgm(const QrCode& code, const std::string& path, int scale = 4) {
    const int side = (code.size() + 8) * scale;
    std::ofstream out(path, std::ios::binary);
    out << "P5\n" << side << " " << side << "\n255\n";
    for (int py = 0; py < side; ++py) {
        for (int px = 0; px < side; ++px) {
            const int x = px / scale - 4;
            const int y = py / scale - 4;
            const bool dark = x >= 0 && y >= 0 && x < code.size() && y < code.size() && code.Dark(x, y);
            out.put(static_cast<char>(dark ? 0 : 255));
        }
    }
}

bool HaveReader() { return access("/usr/bin/zbarimg", X_OK) == 0; }

// What zbarimg reads from the symbol (its trailing line end removed); empty when it reads nothing.
std::string ReadBack(const QrCode& code) {
    const std::string path = testing::TempDir() + "qr-" + std::to_string(getpid()) + ".pgm";
    WritePgm(code, path);
    std::string text;
    if (FILE* pipe = popen(("/usr/bin/zbarimg --raw -q -Sbinary '" + path + "' 2>/dev/null").c_str(), "r")) {
        char buffer[512];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
        pclose(pipe);
    }
    std::filesystem::remove(path);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

std::string Address(size_t length) {
    std::string text = "http://192.168.1.20:8080/";
    for (size_t i = 0; text.size() < length; ++i) text += static_cast<char>('a' + i % 26);
    text.resize(length);
    return text;
}

// Byte-mode capacity at level M of versions 1 to 10.
constexpr int kCapacity[] = {14, 26, 42, 62, 84, 106, 122, 152, 180, 213};

TEST(QrCode, TheSmallestVersionThatHoldsTheTextIsChosenAndTheReaderGetsTheTextBack) {
    if (!HaveReader()) GTEST_SKIP() << "zbarimg (Debian package zbar-tools) is not installed";
    for (int version = 1; version <= QrCode::kMaxVersion; ++version) {
        const int full = kCapacity[version - 1];
        for (const int length : {full, full + 1}) {
            if (length > 213) continue;
            const std::string text = Address(static_cast<size_t>(length));
            const std::optional<QrCode> code = QrCode::Encode(text);
            ASSERT_TRUE(code.has_value()) << length;
            EXPECT_EQ(code->version(), length == full ? version : version + 1) << length;
            EXPECT_EQ(code->size(), 17 + 4 * code->version());
            EXPECT_EQ(ReadBack(*code), text) << "version " << code->version() << " mask " << code->mask();
        }
    }
}

TEST(QrCode, EveryMaskReadsBack) {
    if (!HaveReader()) GTEST_SKIP() << "zbarimg (Debian package zbar-tools) is not installed";
    for (const int version : {1, 7}) {  // 7: the first with version information
        for (int mask = 0; mask < 8; ++mask) {
            const std::string text = (version == 1 ? "mask " : "http://10.0.0.7:8080/ mask ") + std::to_string(mask);
            const std::optional<QrCode> code = QrCode::EncodeWith(text, version, mask);
            ASSERT_TRUE(code.has_value());
            EXPECT_EQ(ReadBack(*code), text) << "version " << version << " mask " << mask;
        }
    }
}

TEST(QrCode, AllByteValuesSurvive) {
    if (!HaveReader()) GTEST_SKIP() << "zbarimg (Debian package zbar-tools) is not installed";
    std::string text;
    for (int b = 1; b < 120; ++b) text += static_cast<char>(b == '\n' ? ' ' : b);
    const std::optional<QrCode> code = QrCode::Encode(text);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(ReadBack(*code), text);
}

TEST(QrCode, TooLongOrOutOfRangeGivesNothing) {
    EXPECT_FALSE(QrCode::Encode(Address(214)).has_value());
    EXPECT_FALSE(QrCode::EncodeWith("x", 0, 0).has_value());
    EXPECT_FALSE(QrCode::EncodeWith("x", 11, 0).has_value());
    EXPECT_FALSE(QrCode::EncodeWith("x", 1, 8).has_value());
    EXPECT_FALSE(QrCode::EncodeWith(Address(15), 1, 0).has_value());
    EXPECT_TRUE(QrCode::Encode("").has_value());
}

TEST(QrCode, FixedPatternsSitWhereReadersLookForThem) {
    const std::optional<QrCode> code = QrCode::Encode(Address(100));  // version 5: one alignment pattern
    ASSERT_TRUE(code.has_value());
    const int n = code->size();
    // Finder patterns: a dark ring, a light ring, a dark 3x3 centre, then the light separator.
    for (const auto& [cx, cy] : {std::pair{3, 3}, std::pair{n - 4, 3}, std::pair{3, n - 4}}) {
        for (int d = -3; d <= 3; ++d) {
            EXPECT_TRUE(code->Dark(cx + d, cy - 3));
            EXPECT_TRUE(code->Dark(cx - 3, cy + d));
        }
        EXPECT_FALSE(code->Dark(cx - 2, cy));
        EXPECT_TRUE(code->Dark(cx, cy));
    }
    EXPECT_FALSE(code->Dark(7, 0));
    for (int i = 8; i < n - 8; ++i) {  // timing patterns
        EXPECT_EQ(code->Dark(i, 6), i % 2 == 0) << i;
        EXPECT_EQ(code->Dark(6, i), i % 2 == 0) << i;
    }
    EXPECT_TRUE(code->Dark(8, n - 8));                  // the module that is always dark
    EXPECT_TRUE(code->Dark(n - 7, n - 7));              // alignment pattern centre at (30, 30)
    EXPECT_FALSE(code->Dark(n - 7 + 1, n - 7));
    const std::string rows = code->Rows();
    EXPECT_EQ(rows.size(), static_cast<size_t>(n * (n + 1) - 1));
    EXPECT_EQ(rows.substr(0, 8), "11111110");
}

TEST(QrCode, TheChosenMaskHasTheLowestPenalty) {
    const std::string text = Address(40);
    const std::optional<QrCode> chosen = QrCode::Encode(text);
    ASSERT_TRUE(chosen.has_value());
    for (int mask = 0; mask < 8; ++mask) {
        EXPECT_LE(chosen->Penalty(), QrCode::EncodeWith(text, chosen->version(), mask)->Penalty()) << mask;
    }
}

}  // namespace
