#include "library/IndexFields.h"

#include <bit>

#include "library/IndexFile.h"
#include "library/LoaderText.h"
#include "platform/Simd.h"

namespace index_loading {

size_t SplitFields(std::string_view line, std::string_view* fields, size_t limit) {
    static_assert(IndexFile::kSlack >= 63);
    const char* const base = line.data();
    const size_t n = line.size();
    size_t count = 0;
    size_t open = n;           // start of a field whose end is still to come; n when none
    uint64_t before = 1;       // whether the byte before the block is a separator
    for (size_t at = 0; at < n; at += 64) {
        uint64_t sep = platform::MatchMask64(base + at, ',', '"');
        if (n - at < 64) sep |= ~uint64_t{0} << (n - at);
        const uint64_t previous = (sep << 1) | before;
        uint64_t starts = ~sep & previous;
        uint64_t ends = sep & ~previous;
        before = sep >> 63;
        // Starts and ends alternate along the line, so they pair up in order.
        for (;;) {
            if (open == n) {
                if (starts == 0) break;
                open = at + static_cast<size_t>(std::countr_zero(starts));
                starts &= starts - 1;
            }
            if (ends == 0) break;  // the field goes on into the next block
            const size_t end = at + static_cast<size_t>(std::countr_zero(ends));
            ends &= ends - 1;
            fields[count++] = std::string_view(base + open, end - open);
            open = n;
            if (count == limit) return count;
        }
    }
    if (open != n) fields[count++] = std::string_view(base + open, n - open);  // ends with the line
    return count;
}

}  // namespace index_loading
