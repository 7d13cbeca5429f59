#include "library/CatalogueMemory.h"

#include <cstdint>
#include <mutex>

#if defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace catalogue_memory {

void KeepFreedMemoryForReloads() {
    static std::once_flag once;
    std::call_once(once, [] {
#if defined(__GLIBC__)
        // Freed memory at the top of the heap goes back to the system only beyond this much.
        mallopt(M_TRIM_THRESHOLD, 256 << 20);
        // Blocks below this size (the largest the allocator accepts) come from the heap, so the big
        // vectors and text blocks of a catalogue are reused rather than mapped and faulted in anew.
        mallopt(M_MMAP_THRESHOLD, 32 << 20);
#endif
    });
}

size_t ReserveHeap(size_t bytes) {
#if defined(__GLIBC__) && !defined(SINJO_SANITIZER_ALLOCATOR)
    constexpr size_t kHugePage = 2 << 20;
    constexpr size_t kLargestHeapBlock = 32 << 20;  // the mmap threshold set above
    const struct mallinfo2 before_info = mallinfo2();
    if (before_info.fordblks >= bytes) return before_info.fordblks;  // enough is free already
    // A request larger than all the free memory of the heap together cannot be served from any free
    // block, so the allocator grows the heap for it, and the pad makes it grow by `bytes` more at once.
    const size_t request = before_info.fordblks + 64;
    if (request >= kLargestHeapBlock || bytes > (1u << 30)) return before_info.fordblks;
    mallopt(M_TOP_PAD, static_cast<int>(bytes + kHugePage));
    char* const before = static_cast<char*>(sbrk(0));
    void* const probe = malloc(request);
    char* const after = static_cast<char*>(sbrk(0));
    mallopt(M_TOP_PAD, 128 * 1024);  // the allocator's default pad
    // When the break moved, the heap grew in place: advise the whole 2 MiB blocks of what was added.
    // (Another thread that grew the heap meanwhile only widens the range; it is all heap.)
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(before) + kHugePage - 1) & ~(kHugePage - 1);
    const uintptr_t end = reinterpret_cast<uintptr_t>(after) & ~(kHugePage - 1);
    if (probe != nullptr && after > before && end > begin) {
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
    }
    free(probe);
    return mallinfo2().fordblks;
#else
    (void)bytes;
    return 0;
#endif
}

}  // namespace catalogue_memory
