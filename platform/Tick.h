// The system tick count and sleeping, as the jukebox's timing code expects them.
// Thread-safe; callable from any thread.
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds of CLOCK_MONOTONIC as an unsigned 32-bit count that wraps (about every 49.7 days),
// like the platform tick count. Differences must be taken as unsigned 32-bit values.
uint32_t GetTickCount();

// The same count from the coarse monotonic clock, which is read from memory the kernel updates every
// timer tick: a resolution of a few milliseconds (the platform's tick count has about 16) for a few
// nanoseconds a call, where the precise clock can cost a system call on a virtual machine. For code
// that reads the time on every buffer it processes.
uint32_t GetCoarseTickCount();

// Milliseconds since this process started (first call of any function here counts as start at the
// latest). Used for cache stamps.
uint32_t MillisecondsSinceStart();

// Sleeps at least `ms` milliseconds.
void Sleep(uint32_t ms);

}  // namespace platform
