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
    // Held until the marker is stored, so that a Run that finishes at once and calls
    // ReleaseThreadHandle waits for the handle it is meant to clear.
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_threadHandle.load() != nullptr) {
        return true;
    }
    m_stopEvent.Reset();
    auto* marker = new std::thread();
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
        // No thread, so nobody else will free the marker; the handle stays null.
        delete marker;
        return false;
    }
    m_threadHandle.store(marker);
    return true;
}

uint32_t CMiniThread::ThreadProc(CMiniThread* self) { return self->Run(); }

void CMiniThread::Stop(uint32_t timeoutMs) {
    if (m_threadHandle.load() == nullptr) {
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
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_threadHandle.store(nullptr);
}

uint32_t CMiniThread::Run() {
    ReleaseThreadHandle();
    return 0;
}

void CMiniThread::ReleaseThreadHandle() {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    std::thread* current = m_threadHandle.load();
    if (current == nullptr) {
        return;
    }
    // A thread of a run that Stop already gave up on must not clear the handle of a newer run. A
    // call from a thread that no CMiniThread started (a Run called directly) releases as before.
    if (t_ownMarker != nullptr && t_ownMarker != current) {
        return;
    }
    m_threadHandle.store(nullptr);
}

}  // namespace nutl
