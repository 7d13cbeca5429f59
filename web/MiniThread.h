// nutl::CMiniThread: an object that owns one thread running its virtual Run.
//
// Start starts the thread once; Stop sets the stop event and waits up to a time-out for the thread to
// release its handle (ReleaseThreadHandle, the last thing every Run does with the thread state).
// Linux cannot end a thread by force: a thread that overruns Stop's time-out is detached instead and
// m_threadHandle still ends null. A Run must therefore (1) end promptly once the resource it blocks
// on is closed or shut down, or its stop event is set, and (2) never touch this object after it has
// called ReleaseThreadHandle unless the owner guarantees the object outlives the thread (a worker
// that deletes itself does so as its very last act).
//
// Threads: Start and Stop are called by the owner's thread; ReleaseThreadHandle by the object's own
// thread. m_lock orders the final release against Stop's forced end.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

#include "platform/Event.h"
#include "platform/ThreadAnnotations.h"

namespace nutl {

class CMiniThread {
public:
    CMiniThread();
    virtual ~CMiniThread();  // Stop(0)
    CMiniThread(const CMiniThread&) = delete;
    CMiniThread& operator=(const CMiniThread&) = delete;

    // Starts the thread unless one runs already. Returns false only when the thread could not be
    // created (the handle then stays null), so that callers can clean up instead of waiting forever.
    bool Start();
    void Stop(uint32_t timeoutMs);
    bool IsRunning() const { return m_threadHandle.load() != nullptr; }

    // The thread's work. The base does nothing: it releases the handle and returns 0.
    virtual uint32_t Run();

protected:
    void ReleaseThreadHandle();

    platform::AutoResetEvent m_stopEvent;  // set by Stop, reset by Start; Run polls it

private:
    static uint32_t ThreadProc(CMiniThread* self);

    // The running thread (detached; the pointer is only a handle). Written under m_lock, polled
    // without it by Stop.
    std::atomic<std::thread*> m_threadHandle{nullptr};
    platform::RecursiveMutex m_lock;  // serialises the release of m_threadHandle
};

}  // namespace nutl
