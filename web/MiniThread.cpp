// nutl::CMiniThread on Linux.
//
// The operating-system thread is a std::thread that is detached as soon as it has been created, so
// the object never has to join it. What m_threadHandle holds is a marker: an empty std::thread
// allocated by Start, owned by the thread it stands for, and deleted by that thread when it has
// completely finished (after Run returned). Stop and ReleaseThreadHandle only ever clear the pointer;
// they never free it. That gives two guarantees:
//   - no marker is ever leaked or freed twice, whichever side ends the run;
//   - while a thread is alive its marker's address cannot be handed out again, so a thread that
//     overran Stop's time-out and calls ReleaseThreadHandle late recognises that the handle now
//     stored belongs to a newer run and leaves it alone (otherwise a restarted server would look
//     idle while its new thread still ran, and its next Stop would not even ask it to stop).
// m_lock orders Start against Stop's final clearing of the handle. ReleaseThreadHandle does not take
// it: it clears the handle with a single compare-and-exchange (see there).
#include "web/MiniThread.h"

#include <system_error>

#include "platform/Tick.h"

namespace nutl {
namespace {

// The marker of the run executing on this thread; null on threads not started by a CMiniThread.
thread_local std::thread* t_ownMarker = nullptr;

}  // namespace

CMiniThread::CMiniThread() = default;

CMiniThread::~CMiniThread() { Stop(0); }

bool CMiniThread::Start() {
    std::thread* marker = nullptr;
    {
        platform::RecursiveMutexLock lock(m_lock);
        if (m_threadHandle.load() != nullptr) {
            return true;
        }
        m_stopEvent.Reset();
        // The marker is stored before the thread exists, so that a Run that finishes at once finds
        // its own handle to release.
        marker = new std::thread();
        m_threadHandle.store(marker);
    }
    // The lock is released before the thread exists: a Run that deletes its own object (a connection
    // worker) may do so at once, and nothing here may touch the object after the thread has started.
    try {
        std::thread worker([this, marker] {
            t_ownMarker = marker;
            ThreadProc(this);
            // `this` may be gone by now (a worker may delete itself in Run); only the marker is ours.
            t_ownMarker = nullptr;
            delete marker;
        });
        worker.detach();
    } catch (const std::system_error&) {
        // No thread, so the object is still ours and nobody else will free the marker.
        std::thread* expected = marker;
        m_threadHandle.compare_exchange_strong(expected, nullptr);
        delete marker;
        return false;
    }
    return true;
}

uint32_t CMiniThread::ThreadProc(CMiniThread* self) { return self->Run(); }

void CMiniThread::Stop(uint32_t timeoutMs) {
    std::thread* running = m_threadHandle.load();
    if (running == nullptr) {
        return;
    }
    m_stopEvent.Set();
    const uint32_t started = platform::GetTickCount();
    while (static_cast<uint32_t>(platform::GetTickCount() - started) < timeoutMs) {
        if (m_threadHandle.load() == nullptr) {
            return;
        }
        platform::Sleep(1);
    }
    // Linux cannot end the thread: it keeps running detached and frees its own marker when done.
    // Only the run this call was asked to stop is given up on.
    platform::RecursiveMutexLock lock(m_lock);
    m_threadHandle.compare_exchange_strong(running, nullptr);
}

uint32_t CMiniThread::Run() {
    ReleaseThreadHandle();
    return 0;
}

void CMiniThread::ReleaseThreadHandle() {
    // One atomic exchange and nothing after it: once the handle reads null, Stop returns and the
    // owner may delete this object at once, so the release must not touch the object again (not
    // even to unlock m_lock). The exchange only clears the handle of this thread's own run, so a
    // thread that Stop already gave up on cannot clear the handle of a newer run. A call from a
    // thread that no CMiniThread started (a Run called directly) releases whatever is there.
    std::thread* expected = t_ownMarker != nullptr ? t_ownMarker : m_threadHandle.load();
    if (expected != nullptr) {
        m_threadHandle.compare_exchange_strong(expected, nullptr);
    }
}

}  // namespace nutl
