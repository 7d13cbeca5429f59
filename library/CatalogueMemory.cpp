#include "library/CatalogueMemory.h"

#include <cstdint>
#include <cstdlib>
#include <mutex>

#include "platform/Memory.h"

namespace catalogue_memory {

void KeepFreedMemoryForReloads() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Freed memory at the top of the heap goes back to the system only beyond this much.
        platform::SetHeapTrimThreshold(256 << 20);
        // Blocks below this size (the largest the allocator accepts) come from the heap, so the big
        // vectors and text blocks of a catalogue are reused rather than mapped and faulted in anew.
        platform::SetHeapMmapThreshold(32 << 20);
    });
}

size_t ReserveHeap(size_t bytes) {
    if (!platform::HeapIsTunable()) return 0;
    constexpr size_t kHugePage = 2 << 20;
    constexpr size_t kLargestHeapBlock = 32 << 20;  // the mmap threshold set above
    const size_t freeBefore = platform::HeapFreeBytes();
    if (freeBefore >= bytes) return freeBefore;  // enough is free already
    // A request larger than all the free memory of the heap together cannot be served from any free
    // block, so the allocator grows the heap for it, and the pad makes it grow by `bytes` more at once.
    const size_t request = freeBefore + 64;
    if (request >= kLargestHeapBlock || bytes > (1u << 30)) return freeBefore;
    platform::SetHeapTopPad(bytes + kHugePage);
    char* const before = platform::HeapEnd();
    void* const probe = std::malloc(request);
    char* const after = platform::HeapEnd();
    platform::SetHeapTopPad(platform::kDefaultHeapTopPad);
    // When the end of the heap moved, the heap grew in place: advise the whole 2 MiB blocks of what was
    // added. (Another thread that grew the heap meanwhile only widens the range; it is all heap.)
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(before) + kHugePage - 1) & ~(kHugePage - 1);
    const uintptr_t end = reinterpret_cast<uintptr_t>(after) & ~(kHugePage - 1);
    if (probe != nullptr && after > before && end > begin) {
        platform::AdviseHugePages(reinterpret_cast<void*>(begin), end - begin);
    }
    std::free(probe);
    return platform::HeapFreeBytes();
}

void ReturnFreeMemory() { platform::ReturnFreeHeapPages(); }

}  // namespace catalogue_memory
