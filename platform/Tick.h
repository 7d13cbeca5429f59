// The system tick count and sleeping, as the jukebox's timing code expects them.
// Thread-safe; callable from any thread.
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds of CLOCK_MONOTONIC as an unsigned 32-bit count that wraps (about every 49.7 days),
// like the platform tick count. Differences must be taken as unsigned 32-bit values.
uint32_t GetTickCount();

// Milliseconds since this process started (first call of any function here counts as start at the
// latest). Used for cache stamps.
uint32_t MillisecondsSinceStart();

// Sleeps at least `ms` milliseconds.
void Sleep(uint32_t ms);

}  // namespace platform
