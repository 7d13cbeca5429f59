#include "platform/Tick.h"

#include <ctime>
#include <thread>

namespace platform {
namespace {

uint64_t MonotonicMillis() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

// Taken during static initialisation, so "since start" really means since the process started.
const uint64_t g_processStart = MonotonicMillis();

}  // namespace

uint32_t GetTickCount() { return static_cast<uint32_t>(MonotonicMillis()); }

uint32_t GetCoarseTickCount() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

uint32_t MillisecondsSinceStart() { return static_cast<uint32_t>(MonotonicMillis() - g_processStart); }

void Sleep(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace platform
