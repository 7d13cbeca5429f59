// The allocator settings that let reloads reuse memory, and the heap reservation of a first load.
#include "library/CatalogueMemory.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Memory.h"

namespace {

// Whether a mapping of this process covering `address` carries the huge page advice ("hg" among its
// VmFlags in /proc/self/smaps).
bool HugePagesAdvisedAt(const void* address) {
    std::ifstream smaps("/proc/self/smaps");
    std::string line;
    bool inside = false;
    const auto at = reinterpret_cast<uintptr_t>(address);
    while (std::getline(smaps, line)) {
        unsigned long begin = 0, end = 0;
        // A mapping's first line starts "begin-end " in hexadecimal; its fields follow.
        if (std::sscanf(line.c_str(), "%lx-%lx ", &begin, &end) == 2) inside = at >= begin && at < end;
        if (inside && line.rfind("VmFlags:", 0) == 0) return line.find(" hg") != std::string::npos;
    }
    return false;
}

TEST(CatalogueMemoryTest, FreedCatalogueMemoryStaysWithTheProcess) {
    if (!platform::HeapIsTunable()) GTEST_SKIP() << "the allocator is replaced in this build";
    catalogue_memory::KeepFreedMemoryForReloads();
    // Many small blocks and one large one, like a catalogue and its lists, freed together: the heap keeps
    // them for the next catalogue instead of handing them back.
    std::vector<void*> blocks;
    for (int i = 0; i < 100000; ++i) {
        blocks.push_back(std::malloc(200));
        std::memset(blocks.back(), 1, 200);
    }
    void* large = std::malloc(8 << 20);
    std::memset(large, 1, 8 << 20);
    for (void* p : blocks) std::free(p);
    std::free(large);
    EXPECT_GE(platform::HeapFreeBytes(), size_t{20} << 20);
}

TEST(CatalogueMemoryTest, ReserveHeapGrowsTheHeapOnceAndAdvisesHugePages) {
    if (!platform::HeapIsTunable()) GTEST_SKIP() << "the allocator is replaced in this build";
    catalogue_memory::KeepFreedMemoryForReloads();
    const size_t free_before = platform::HeapFreeBytes();
    const size_t wanted = free_before + (48u << 20);
    const size_t reserved = catalogue_memory::ReserveHeap(wanted);
    EXPECT_GE(reserved, wanted);
    EXPECT_GE(platform::HeapFreeBytes(), wanted);
    // Asking again for what is there already changes nothing.
    EXPECT_EQ(catalogue_memory::ReserveHeap(wanted), platform::HeapFreeBytes());

    // Once the memory that was free before is used up, blocks come from the reserved part, which carries
    // the advice.
    std::vector<char*> blocks;
    size_t taken = 0;
    while (taken < free_before + (8u << 20)) {
        blocks.push_back(static_cast<char*>(std::malloc(16 << 10)));
        blocks.back()[0] = 1;
        taken += 16 << 10;
    }
    size_t advised = 0;
    for (size_t i = blocks.size() - 100; i < blocks.size(); ++i) advised += HugePagesAdvisedAt(blocks[i]) ? 1 : 0;
    for (char* p : blocks) std::free(p);
    EXPECT_EQ(advised, 100u);
}

}  // namespace
