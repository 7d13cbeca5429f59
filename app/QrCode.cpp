#include "app/QrCode.h"

#include <array>
#include <cstdlib>
#include <limits>

namespace {

// Error correction level M: codewords of error correction per block, and the number of blocks, for
// versions 1 to 10 (index 0 unused).
constexpr std::array<int, QrCode::kMaxVersion + 1> kEccPerBlock = {0, 10, 16, 26, 18, 24, 16, 18, 22, 22, 26};
constexpr std::array<int, QrCode::kMaxVersion + 1> kBlocks = {0, 1, 1, 1, 2, 2, 4, 4, 4, 5, 5};
constexpr int kLevelMFormatBits = 0;  // the two level bits of M in the format information

int SideOf(int version) { return 17 + 4 * version; }

// Modules left for data and error correction once the function patterns are drawn.
int RawDataModules(int version) {
    int modules = (16 * version + 128) * version + 64;
    if (version >= 2) {
        const int alignments = version / 7 + 2;
        modules -= (25 * alignments - 10) * alignments - 55;
        if (version >= 7) modules -= 36;
    }
    return modules;
}

int TotalCodewords(int version) { return RawDataModules(version) / 8; }
int DataCodewords(int version) { return TotalCodewords(version) - kEccPerBlock[version] * kBlocks[version]; }
int CountBits(int version) { return version <= 9 ? 8 : 16; }

// The centres of the alignment patterns along one axis.
std::vector<int> AlignmentPositions(int version) {
    if (version == 1) return {};
    const int count = version / 7 + 2;
    const int step = (version * 4 + count * 2 + 1) / (count * 2 - 2) * 2;
    std::vector<int> positions(static_cast<size_t>(count));
    positions[0] = 6;
    for (int i = count - 1, at = SideOf(version) - 7; i >= 1; --i, at -= step) positions[static_cast<size_t>(i)] = at;
    return positions;
}

// Arithmetic in GF(256) with the field polynomial x^8 + x^4 + x^3 + x^2 + 1.
uint8_t GfMultiply(uint8_t a, uint8_t b) {
    int product = 0;
    for (int bit = 7; bit >= 0; --bit) {
        product = (product << 1) ^ ((product >> 7) * 0x11D);
        product ^= ((b >> bit) & 1) * a;
    }
    return static_cast<uint8_t>(product);
}

// The generator polynomial of `degree` error correction codewords (leading coefficient 1 left out).
std::vector<uint8_t> RsGenerator(int degree) {
    std::vector<uint8_t> poly(static_cast<size_t>(degree), 0);
    poly.back() = 1;
    uint8_t root = 1;
    for (int i = 0; i < degree; ++i) {
        for (size_t j = 0; j < poly.size(); ++j) {
            poly[j] = GfMultiply(poly[j], root);
            if (j + 1 < poly.size()) poly[j] ^= poly[j + 1];
        }
        root = GfMultiply(root, 0x02);
    }
    return poly;
}

std::vector<uint8_t> RsRemainder(const std::vector<uint8_t>& data, const std::vector<uint8_t>& generator) {
    std::vector<uint8_t> remainder(generator.size(), 0);
    for (uint8_t byte : data) {
        const uint8_t factor = byte ^ remainder.front();
        remainder.erase(remainder.begin());
        remainder.push_back(0);
        for (size_t i = 0; i < remainder.size(); ++i) remainder[i] ^= GfMultiply(generator[i], factor);
    }
    return remainder;
}

class BitWriter {
public:
    void Put(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) bits_.push_back(((value >> i) & 1) != 0);
    }
    size_t size() const { return bits_.size(); }
    std::vector<uint8_t> Bytes() const {
        std::vector<uint8_t> bytes(bits_.size() / 8, 0);
        for (size_t i = 0; i < bytes.size() * 8; ++i) {
            if (bits_[i]) bytes[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
        }
        return bytes;
    }

private:
    std::vector<bool> bits_;
};

// The data codewords of `bytes` for `version`: mode, count, data, terminator, padding. Empty when the bytes
// do not fit.
std::vector<uint8_t> DataCodewordsFor(std::string_view bytes, int version) {
    const size_t capacityBits = static_cast<size_t>(DataCodewords(version)) * 8;
    if (bytes.size() >= (size_t{1} << CountBits(version))) return {};
    if (4 + static_cast<size_t>(CountBits(version)) + bytes.size() * 8 > capacityBits) return {};
    BitWriter writer;
    writer.Put(0x4, 4);  // byte mode
    writer.Put(static_cast<uint32_t>(bytes.size()), CountBits(version));
    for (char c : bytes) writer.Put(static_cast<unsigned char>(c), 8);
    writer.Put(0, static_cast<int>(std::min<size_t>(4, capacityBits - writer.size())));
    writer.Put(0, static_cast<int>((8 - writer.size() % 8) % 8));
    for (uint32_t pad = 0xEC; writer.size() < capacityBits; pad ^= 0xEC ^ 0x11) writer.Put(pad, 8);
    return writer.Bytes();
}

// Splits the data into blocks, adds each block's error correction and interleaves the lot.
std::vector<uint8_t> Interleave(const std::vector<uint8_t>& data, int version) {
    const int blocks = kBlocks[version];
    const int ecc = kEccPerBlock[version];
    const int shortLength = static_cast<int>(data.size()) / blocks;
    const int longBlocks = static_cast<int>(data.size()) % blocks;  // the last ones are one longer
    const std::vector<uint8_t> generator = RsGenerator(ecc);
    std::vector<std::vector<uint8_t>> dataBlocks;
    std::vector<std::vector<uint8_t>> eccBlocks;
    size_t at = 0;
    for (int b = 0; b < blocks; ++b) {
        const size_t length = static_cast<size_t>(shortLength + (b >= blocks - longBlocks ? 1 : 0));
        dataBlocks.emplace_back(data.begin() + static_cast<std::ptrdiff_t>(at),
                                data.begin() + static_cast<std::ptrdiff_t>(at + length));
        eccBlocks.push_back(RsRemainder(dataBlocks.back(), generator));
        at += length;
    }
    std::vector<uint8_t> out;
    for (int i = 0; i <= shortLength; ++i) {
        for (const auto& block : dataBlocks) {
            if (static_cast<size_t>(i) < block.size()) out.push_back(block[static_cast<size_t>(i)]);
        }
    }
    for (int i = 0; i < ecc; ++i) {
        for (const auto& block : eccBlocks) out.push_back(block[static_cast<size_t>(i)]);
    }
    return out;
}

bool MaskBit(int mask, int x, int y) {
    switch (mask) {
        case 0: return (x + y) % 2 == 0;
        case 1: return y % 2 == 0;
        case 2: return x % 3 == 0;
        case 3: return (x + y) % 3 == 0;
        case 4: return (x / 3 + y / 2) % 2 == 0;
        case 5: return x * y % 2 + x * y % 3 == 0;
        case 6: return (x * y % 2 + x * y % 3) % 2 == 0;
        default: return ((x + y) % 2 + x * y % 3) % 2 == 0;
    }
}

}  // namespace

std::optional<QrCode> QrCode::EncodeWith(std::string_view bytes, int version, int mask) {
    if (version < 1 || version > kMaxVersion || mask < 0 || mask > 7) return std::nullopt;
    const std::vector<uint8_t> data = DataCodewordsFor(bytes, version);
    if (data.empty()) return std::nullopt;
    QrCode code(version, SideOf(version));
    code.DrawFunctionPatterns();
    code.PlaceCodewords(Interleave(data, version));
    code.ApplyMask(mask);
    code.DrawFormatBits(mask);
    code.mask_ = mask;
    return code;
}

std::optional<QrCode> QrCode::Encode(std::string_view bytes) {
    for (int version = 1; version <= kMaxVersion; ++version) {
        std::optional<QrCode> best;
        int bestPenalty = std::numeric_limits<int>::max();
        for (int mask = 0; mask < 8; ++mask) {
            std::optional<QrCode> code = EncodeWith(bytes, version, mask);
            if (!code) break;  // does not fit this version: no mask will
            const int penalty = code->Penalty();
            if (penalty < bestPenalty) {
                bestPenalty = penalty;
                best = std::move(code);
            }
        }
        if (best) return best;
    }
    return std::nullopt;
}

std::string QrCode::Rows() const {
    std::string text;
    text.reserve(static_cast<size_t>(size_ * (size_ + 1)));
    for (int y = 0; y < size_; ++y) {
        if (y > 0) text += '\n';
        for (int x = 0; x < size_; ++x) text += Dark(x, y) ? '1' : '0';
    }
    return text;
}

void QrCode::DrawFunctionPatterns() {
    for (int i = 0; i < size_; ++i) {  // timing patterns
        SetFunction(6, i, i % 2 == 0);
        SetFunction(i, 6, i % 2 == 0);
    }
    DrawFinder(3, 3);
    DrawFinder(size_ - 4, 3);
    DrawFinder(3, size_ - 4);
    const std::vector<int> centres = AlignmentPositions(version_);
    const size_t last = centres.size() - 1;
    for (size_t i = 0; i < centres.size(); ++i) {
        for (size_t j = 0; j < centres.size(); ++j) {
            // Not over the three finder patterns.
            if ((i == 0 && j == 0) || (i == 0 && j == last) || (i == last && j == 0)) continue;
            DrawAlignment(centres[i], centres[j]);
        }
    }
    DrawFormatBits(0);  // reserves the format areas; the real bits come once the mask is chosen
    DrawVersionBits();
}

// A finder pattern with its light separator, clipped at the symbol's edge.
void QrCode::DrawFinder(int cx, int cy) {
    for (int dy = -4; dy <= 4; ++dy) {
        for (int dx = -4; dx <= 4; ++dx) {
            const int x = cx + dx;
            const int y = cy + dy;
            if (x < 0 || x >= size_ || y < 0 || y >= size_) continue;
            const int ring = std::max(std::abs(dx), std::abs(dy));
            SetFunction(x, y, ring != 2 && ring != 4);
        }
    }
}

void QrCode::DrawAlignment(int cx, int cy) {
    for (int dy = -2; dy <= 2; ++dy) {
        for (int dx = -2; dx <= 2; ++dx) SetFunction(cx + dx, cy + dy, std::max(std::abs(dx), std::abs(dy)) != 1);
    }
}

void QrCode::DrawFormatBits(int mask) {
    const int data = kLevelMFormatBits << 3 | mask;
    int remainder = data;
    for (int i = 0; i < 10; ++i) remainder = (remainder << 1) ^ ((remainder >> 9) * 0x537);
    const int bits = (data << 10 | remainder) ^ 0x5412;
    auto bit = [bits](int i) { return ((bits >> i) & 1) != 0; };
    // Beside the top left finder.
    for (int i = 0; i <= 5; ++i) SetFunction(8, i, bit(i));
    SetFunction(8, 7, bit(6));
    SetFunction(8, 8, bit(7));
    SetFunction(7, 8, bit(8));
    for (int i = 9; i < 15; ++i) SetFunction(14 - i, 8, bit(i));
    // The copy beside the other two finders, and the module that is always dark.
    for (int i = 0; i < 8; ++i) SetFunction(size_ - 1 - i, 8, bit(i));
    for (int i = 8; i < 15; ++i) SetFunction(8, size_ - 15 + i, bit(i));
    SetFunction(8, size_ - 8, true);
}

void QrCode::DrawVersionBits() {
    if (version_ < 7) return;
    int remainder = version_;
    for (int i = 0; i < 12; ++i) remainder = (remainder << 1) ^ ((remainder >> 11) * 0x1F25);
    const int bits = version_ << 12 | remainder;
    for (int i = 0; i < 18; ++i) {
        const bool dark = ((bits >> i) & 1) != 0;
        const int a = size_ - 11 + i % 3;
        const int b = i / 3;
        SetFunction(a, b, dark);
        SetFunction(b, a, dark);
    }
}

// Two columns at a time from the right, up and down in turn, skipping the vertical timing pattern.
void QrCode::PlaceCodewords(const std::vector<uint8_t>& codewords) {
    const size_t bitCount = codewords.size() * 8;
    size_t i = 0;
    for (int right = size_ - 1; right >= 1; right -= 2) {
        if (right == 6) right = 5;
        const bool upward = ((right + 1) & 2) == 0;
        for (int step = 0; step < size_; ++step) {
            const int y = upward ? size_ - 1 - step : step;
            for (int j = 0; j < 2; ++j) {
                const int x = right - j;
                if (IsFunction(x, y)) continue;
                // Modules past the last codeword (the remainder bits) stay light.
                const bool dark = i < bitCount && ((codewords[i / 8] >> (7 - i % 8)) & 1) != 0;
                Set(x, y, dark);
                ++i;
            }
        }
    }
}

void QrCode::ApplyMask(int mask) {
    for (int y = 0; y < size_; ++y) {
        for (int x = 0; x < size_; ++x) {
            if (!IsFunction(x, y) && MaskBit(mask, x, y)) Set(x, y, !Dark(x, y));
        }
    }
}

int QrCode::Penalty() const {
    int penalty = 0;
    auto module = [this](bool rows, int line, int i) { return rows ? Dark(i, line) : Dark(line, i); };
    for (const bool rows : {true, false}) {
        for (int line = 0; line < size_; ++line) {
            // Rule 1: runs of five or more modules of one colour.
            int run = 1;
            for (int i = 1; i <= size_; ++i) {
                if (i < size_ && module(rows, line, i) == module(rows, line, i - 1)) {
                    ++run;
                    continue;
                }
                if (run >= 5) penalty += 3 + (run - 5);
                run = 1;
            }
            // Rule 3: the finder-like pattern 1:1:3:1:1 with four light modules on one side.
            for (int i = 0; i + 11 <= size_; ++i) {
                static constexpr bool kAfter[11] = {1, 0, 1, 1, 1, 0, 1, 0, 0, 0, 0};
                static constexpr bool kBefore[11] = {0, 0, 0, 0, 1, 0, 1, 1, 1, 0, 1};
                bool after = true;
                bool before = true;
                for (int k = 0; k < 11; ++k) {
                    const bool dark = module(rows, line, i + k);
                    after = after && dark == kAfter[k];
                    before = before && dark == kBefore[k];
                }
                penalty += (after ? 40 : 0) + (before ? 40 : 0);
            }
        }
    }
    // Rule 2: two-by-two blocks of one colour.
    for (int y = 0; y + 1 < size_; ++y) {
        for (int x = 0; x + 1 < size_; ++x) {
            const bool c = Dark(x, y);
            if (c == Dark(x + 1, y) && c == Dark(x, y + 1) && c == Dark(x + 1, y + 1)) penalty += 3;
        }
    }
    // Rule 4: ten points for every full five percent the dark share strays from one half.
    int dark = 0;
    for (uint8_t m : modules_) dark += m;
    const int total = size_ * size_;
    penalty += std::abs(dark * 20 - total * 10) / total * 10;
    return penalty;
}
