// An auto-reset event: Set wakes one waiter (or lets the next Wait pass) and resets itself.
// Thread-safe: all state is guarded by mu_.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/ThreadAnnotations.h"

namespace platform {

class AutoResetEvent final {
public:
    AutoResetEvent() = default;
    AutoResetEvent(const AutoResetEvent&) = delete;
    AutoResetEvent& operator=(const AutoResetEvent&) = delete;

    void Set() {
        MutexLock lock(mu_);
        signalled_ = true;
        cv_.notify_one();
    }
    void Reset() {
        MutexLock lock(mu_);
        signalled_ = false;
    }
    // Waits up to timeoutMs (0: test without waiting). True when the event was signalled; the
    // signal is consumed, as with the platform's auto-reset events.
    bool Wait(uint32_t timeoutMs) {
        UniqueMutexLock lock(mu_);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!signalled_) {
            if (cv_.wait_until(lock.native(), deadline) == std::cv_status::timeout && !signalled_) {
                return false;
            }
        }
        signalled_ = false;
        return true;
    }
    // True when signalled, without consuming the signal (for tests and diagnostics).
    bool IsSet() const {
        MutexLock lock(mu_);
        return signalled_;
    }

private:
    mutable Mutex mu_;
    std::condition_variable cv_;
    bool signalled_ GUARDED_BY(mu_) = false;
};

}  // namespace platform
