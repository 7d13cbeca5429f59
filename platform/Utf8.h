// One UTF-8 step each way, shared by the text formats of the platform layer (the registry's hive files
// and the automation wire). Each caller keeps its own policy for what is not well formed: the hive turns
// it into U+FFFD, the wire refuses the whole message.
//
// Pure inline functions; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform::utf8 {

// A Unicode scalar value: at most U+10FFFF and not a surrogate.
constexpr bool IsScalar(uint32_t c) { return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF); }

// Appends the encoding of `c`; anything but a scalar value is written as U+FFFD.
inline void Append(std::string& out, uint32_t c) {
    if (!IsScalar(c)) c = 0xFFFD;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Decodes the sequence that starts at bytes[i] (i < bytes.size()) into *c and returns its length; 0 when
// it is not well formed (a bad lead or continuation byte, cut short, overlong, a surrogate or beyond
// U+10FFFF).
inline size_t Decode(std::string_view bytes, size_t i, uint32_t* c) {
    const auto b0 = static_cast<unsigned char>(bytes[i]);
    if (b0 < 0x80) {
        *c = b0;
        return 1;
    }
    size_t length = 0;
    uint32_t value = 0;
    uint32_t minimum = 0;
    if ((b0 & 0xE0) == 0xC0) {
        length = 2, value = b0 & 0x1F, minimum = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        length = 3, value = b0 & 0x0F, minimum = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        length = 4, value = b0 & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (bytes.size() - i < length) return 0;
    for (size_t k = 1; k < length; ++k) {
        const auto b = static_cast<unsigned char>(bytes[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        value = (value << 6) | (b & 0x3F);
    }
    if (value < minimum || !IsScalar(value)) return 0;
    *c = value;
    return length;
}

}  // namespace platform::utf8
