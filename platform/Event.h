// An auto-reset event: Set wakes one waiter (or lets the next Wait pass) and resets itself.
// Thread-safe: all state is guarded by mu_.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace platform {

class AutoResetEvent final {
public:
    AutoResetEvent() = default;
    AutoResetEvent(const AutoResetEvent&) = delete;
    AutoResetEvent& operator=(const AutoResetEvent&) = delete;

    void Set() {
        std::lock_guard<std::mutex> lock(mu_);
        signalled_ = true;
        cv_.notify_one();
    }
    void Reset() {
        std::lock_guard<std::mutex> lock(mu_);
        signalled_ = false;
    }
    // Waits up to timeoutMs (0: test without waiting). True when the event was signalled; the
    // signal is consumed, as with the platform's auto-reset events.
    bool Wait(uint32_t timeoutMs) {
        std::unique_lock<std::mutex> lock(mu_);
        if (!cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return signalled_; })) {
            return false;
        }
        signalled_ = false;
        return true;
    }
    // True when signalled, without consuming the signal (for tests and diagnostics).
    bool IsSet() const {
        std::lock_guard<std::mutex> lock(mu_);
        return signalled_;
    }

private:
    mutable std::mutex mu_;
    std::condition_variable cv_;
    bool signalled_ = false;  // guarded by mu_
};

}  // namespace platform
