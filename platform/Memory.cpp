#include "platform/Memory.h"

#include "platform/Sanitizer.h"

#include <cstdlib>  // defines __GLIBC__ where the C library is the GNU one

#if defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace platform {

#if defined(__GLIBC__)

bool HeapIsTunable() { return !kAllocatorReplaced; }

void SetHeapTrimThreshold(size_t bytes) { mallopt(M_TRIM_THRESHOLD, static_cast<int>(bytes)); }

void SetHeapMmapThreshold(size_t bytes) { mallopt(M_MMAP_THRESHOLD, static_cast<int>(bytes)); }

void SetHeapTopPad(size_t bytes) { mallopt(M_TOP_PAD, static_cast<int>(bytes)); }

size_t HeapFreeBytes() { return HeapIsTunable() ? mallinfo2().fordblks : 0; }

bool ReturnFreeHeapPages() { return HeapIsTunable() && malloc_trim(0) != 0; }

char* HeapEnd() { return HeapIsTunable() ? static_cast<char*>(sbrk(0)) : nullptr; }

void AdviseHugePages(void* begin, size_t bytes) { madvise(begin, bytes, MADV_HUGEPAGE); }

#else

bool HeapIsTunable() { return false; }
void SetHeapTrimThreshold(size_t) {}
void SetHeapMmapThreshold(size_t) {}
void SetHeapTopPad(size_t) {}
size_t HeapFreeBytes() { return 0; }
bool ReturnFreeHeapPages() { return false; }
char* HeapEnd() { return nullptr; }
void AdviseHugePages(void*, size_t) {}

#endif

}  // namespace platform
