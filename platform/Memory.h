// The C library allocator's tuning knobs and the system calls behind the heap, for code that shapes how
// a large working set is obtained (library/CatalogueMemory.h decides what to do with them).
//
// Where the allocator is not the GNU C library's, or a sanitizer has replaced it, HeapIsTunable is false,
// the setters do nothing and the queries report nothing (0, null).
//
// Threads: any thread; the allocator serialises its own settings.
#pragma once

#include <cstddef>

namespace platform {

// Whether the heap can be tuned and grown through the calls below.
bool HeapIsTunable();

// Free memory at the top of the heap goes back to the system only beyond this many bytes.
void SetHeapTrimThreshold(size_t bytes);
// Blocks of at least this many bytes are mapped on their own; smaller ones come from the heap.
void SetHeapMmapThreshold(size_t bytes);
// How much more than asked the heap grows by whenever it must grow.
void SetHeapTopPad(size_t bytes);
constexpr size_t kDefaultHeapTopPad = 128 * 1024;  // the allocator's own default

// Gives the free pages of every heap back to the system (they read as zero when next used). Returns
// whether any memory was given back.
bool ReturnFreeHeapPages();
// Bytes of free memory that the heap holds.
size_t HeapFreeBytes();
// The current end of the heap (the program break); null where unknown.
char* HeapEnd();

// Advises the system to back [begin, begin + bytes) with transparent huge pages where it offers them
// for advised memory. `begin` and `bytes` should be multiples of the huge page size.
void AdviseHugePages(void* begin, size_t bytes);

}  // namespace platform
