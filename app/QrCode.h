// QrCode: a QR code symbol for a short text, so that a phone's camera can open the address the console
// shows. Byte mode (the text's bytes as given, UTF-8 for an address), error correction level M (about 15%
// of the symbol may be dirty or covered), the smallest of versions 1 to 10 that holds the text (21 to 57
// modules a side; version 10 holds 213 bytes), and the data mask with the lowest penalty, as a reader
// expects it.
//
// Pure functions on values; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QrCode final {
public:
    static constexpr int kMaxVersion = 10;

    // The symbol for `bytes`, or nothing when they do not fit in version 10.
    static std::optional<QrCode> Encode(std::string_view bytes);
    // The same with a fixed version and mask (for tests); nothing when the bytes do not fit that version.
    static std::optional<QrCode> EncodeWith(std::string_view bytes, int version, int mask);

    int version() const { return version_; }
    int mask() const { return mask_; }
    int size() const { return size_; }  // modules a side, without the quiet zone
    bool Dark(int x, int y) const { return modules_[static_cast<size_t>(y * size_ + x)] != 0; }

    // One line of "1" (dark) and "0" (light) per row, top first, joined by "\n"; no quiet zone.
    std::string Rows() const;

    // The penalty score a reader's mask choice is based on (the four rules of the standard).
    int Penalty() const;

private:
    QrCode(int version, int size) : version_(version), size_(size), modules_(static_cast<size_t>(size * size)),
                                    function_(static_cast<size_t>(size * size)) {}

    void Set(int x, int y, bool dark) { modules_[static_cast<size_t>(y * size_ + x)] = dark ? 1 : 0; }
    void SetFunction(int x, int y, bool dark) {
        Set(x, y, dark);
        function_[static_cast<size_t>(y * size_ + x)] = 1;
    }
    bool IsFunction(int x, int y) const { return function_[static_cast<size_t>(y * size_ + x)] != 0; }

    void DrawFunctionPatterns();
    void DrawFinder(int cx, int cy);
    void DrawAlignment(int cx, int cy);
    void DrawFormatBits(int mask);
    void DrawVersionBits();
    void PlaceCodewords(const std::vector<uint8_t>& codewords);
    void ApplyMask(int mask);

    int version_;
    int mask_ = 0;
    int size_;
    std::vector<uint8_t> modules_;   // 1 dark, row by row
    std::vector<uint8_t> function_;  // 1 where a function pattern (not data) lies
};
