// How the catalogue's memory is obtained. A catalogue of 100,000 songs is some 45 MB of small records and
// strings that Reload frees and allocates again all at once. By default the C library hands freed memory at
// the top of its heap back to the system and maps large blocks afresh on every allocation, and the system
// then has to supply every page again, one fault per 4 KiB page when it is first touched. On a virtual
// machine a fault costs over ten microseconds, which made a reload into a fresh catalogue twice as slow as
// the loading work itself.
//
// KeepFreedMemoryForReloads tells the allocator to keep what it frees (up to a generous bound) and to take
// blocks of up to 32 MiB from the heap, so a reload reuses the pages of the catalogue it replaces. Peak
// memory does not grow: what is kept is what the previous catalogue used.
//
// The first load of a process has no such memory to reuse. ReserveHeap, called before loading, grows the
// heap once by about what the catalogue will need and advises the system to back that part with
// transparent huge pages, where it offers them for advised memory: one fault per 2 MiB instead of one
// per 4 KiB. Only touched memory counts towards the process's size, rounded up to 2 MiB blocks.
//
// Threads: any thread; the settings are made once per process.
#pragma once

#include <cstddef>

namespace catalogue_memory {

// Applies the allocator settings above once per process; later calls do nothing. Has no effect where
// the allocator does not support them (sanitizer builds replace it).
void KeepFreedMemoryForReloads();

// Unless the heap already holds `bytes` of free memory, grows it by `bytes` at once and advises huge pages
// for the new part. Returns the free bytes of the heap afterwards (0 where this is not supported, as in
// sanitizer builds). Meant for the thread that loads the catalogue; harmless on any thread.
size_t ReserveHeap(size_t bytes);

// Gives the heap's free memory back to the system once a catalogue and its search index are made. The
// memory kept for reloads above is what a catalogue frees; what the search index's builder frees (its
// working tables) and the fragments between records would otherwise stay in the process as well, and at
// a million songs that is a hundred megabytes or more. Takes a few milliseconds; call it off the loading
// thread's path (the index builder does, once it is done).
void ReturnFreeMemory();

}  // namespace catalogue_memory
