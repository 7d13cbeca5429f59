#include "library/Records.h"

#include <memory>
#include <new>
#include <vector>

#include "platform/Sanitizer.h"
#include "platform/ThreadAnnotations.h"

namespace song_record_pool {
namespace {

constexpr size_t kSlot = 64;
constexpr size_t kSlotsPerBlock = 4096;  // 256 KiB blocks
static_assert(sizeof(Song) <= kSlot && alignof(Song) <= alignof(std::max_align_t));

// A free slot holds the link to the next one.
struct FreeSlot {
    FreeSlot* next;
};

class Pool final {
public:
    void* Take() {
        platform::MutexLock guard(m_mutex);
        if (m_free == nullptr) Grow();
        FreeSlot* slot = m_free;
        m_free = slot->next;
        ++m_inUse;
        return slot;
    }

    void Give(void* record) noexcept {
        platform::MutexLock guard(m_mutex);
        auto* slot = static_cast<FreeSlot*>(record);
        slot->next = m_free;
        m_free = slot;
        --m_inUse;
    }

    size_t InUse() {
        platform::MutexLock guard(m_mutex);
        return m_inUse;
    }
    size_t Held() {
        platform::MutexLock guard(m_mutex);
        return m_blocks.size() * kSlotsPerBlock;
    }

private:
    // Adds a block's slots to the free list, the first slot first out.
    void Grow() REQUIRES(m_mutex) {
        m_blocks.push_back(std::make_unique<Block>());
        Block& block = *m_blocks.back();
        for (size_t i = kSlotsPerBlock; i-- > 0;) {
            auto* slot = reinterpret_cast<FreeSlot*>(block.bytes + i * kSlot);
            slot->next = m_free;
            m_free = slot;
        }
    }

    struct Block {
        alignas(kSlot) unsigned char bytes[kSlot * kSlotsPerBlock];
    };

    platform::Mutex m_mutex;                                     // guards everything below
    std::vector<std::unique_ptr<Block>> m_blocks GUARDED_BY(m_mutex);
    FreeSlot* m_free GUARDED_BY(m_mutex) = nullptr;
    size_t m_inUse GUARDED_BY(m_mutex) = 0;
};

// Never destroyed: records may be deleted by static destructors that run after this file's.
Pool& ThePool() {
    static Pool* pool = new Pool;
    return *pool;
}

}  // namespace

void* Take(size_t bytes) {
    if (platform::kAddressSanitizer) return ::operator new(bytes);
    return ThePool().Take();  // bytes is sizeof(Song), which fits a slot
}

void Give(void* record) noexcept {
    if (record == nullptr) return;
    if (platform::kAddressSanitizer) {
        ::operator delete(record);
        return;
    }
    ThePool().Give(record);
}

size_t SlotsInUse() { return ThePool().InUse(); }
size_t SlotsHeld() { return ThePool().Held(); }

}  // namespace song_record_pool
