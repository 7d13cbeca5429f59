// ChunkPipe and ChunkReaderThread: hand work from a reader thread to the thread that uses it, in order.
// The catalogue loader reads, checks and converts the song index on a reader thread while the GUI thread
// makes the song records, so the two halves of the work overlap.
//
// A fixed set of chunk objects circulates between a queue of filled chunks and a queue of free ones: the
// reader runs at most that many chunks ahead, and nothing is allocated per hand-over (a chunk keeps its
// buffers when it comes back). Either side may end the exchange: the reader with Finish, after its last
// chunk or with the error that stopped it; the user with Cancel, which makes the reader's next TakeFree
// give null so that it stops.
//
// Threads: one reader thread calls TakeFree, PutFilled and Finish; one user thread calls TakeFilled,
// PutFree and Cancel. Everything is guarded by the pipe's mutex; no chunk is touched by both at once
// (a chunk belongs to whoever took it last).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/Thread.h"
#include "platform/ThreadAnnotations.h"

template <class Chunk>
class ChunkPipe final {
public:
    explicit ChunkPipe(size_t chunks = 4) {
        for (size_t i = 0; i < (chunks < 1 ? 1 : chunks); ++i) {
            m_chunks.push_back(std::make_unique<Chunk>());
            m_free.push_back(m_chunks.back().get());
        }
    }
    ChunkPipe(const ChunkPipe&) = delete;
    ChunkPipe& operator=(const ChunkPipe&) = delete;

    // Reader: a chunk to fill, as the user gave it back; waits while every chunk is in use. Null once
    // the user has cancelled.
    Chunk* TakeFree() {
        platform::UniqueMutexLock lock(m_mutex);
        while (!m_cancelled && m_free.empty()) m_changed.wait(lock.native());
        if (m_cancelled) return nullptr;
        Chunk* chunk = m_free.front();
        m_free.pop_front();
        return chunk;
    }
    // Reader: passes a filled chunk on.
    void PutFilled(Chunk* chunk) {
        platform::MutexLock lock(m_mutex);
        m_filled.push_back(chunk);
        m_changed.notify_all();
    }
    // Reader: no more chunks will come; `error` is what stopped it early, if anything.
    void Finish(std::exception_ptr error) {
        platform::MutexLock lock(m_mutex);
        m_finished = true;
        m_error = std::move(error);
        m_changed.notify_all();
    }

    // User: the next filled chunk, in the order they were put; waits for one. Null once the reader has
    // finished and every chunk it put has been taken.
    Chunk* TakeFilled() {
        platform::UniqueMutexLock lock(m_mutex);
        while (!m_finished && m_filled.empty()) m_changed.wait(lock.native());
        if (m_filled.empty()) return nullptr;
        Chunk* chunk = m_filled.front();
        m_filled.pop_front();
        return chunk;
    }
    // User: gives a chunk back for the reader to fill again (the user empties it first as it sees fit).
    void PutFree(Chunk* chunk) {
        platform::MutexLock lock(m_mutex);
        m_free.push_back(chunk);
        m_changed.notify_all();
    }
    // User: stops the reader at its next TakeFree.
    void Cancel() {
        platform::MutexLock lock(m_mutex);
        m_cancelled = true;
        m_changed.notify_all();
    }
    // What the reader gave to Finish; null before it finished or when it finished normally.
    std::exception_ptr Error() {
        platform::MutexLock lock(m_mutex);
        return m_error;
    }

private:
    alignas(64) platform::Mutex m_mutex;
    std::condition_variable m_changed;  // notified on every change of the fields below
    std::deque<std::unique_ptr<Chunk>> m_chunks GUARDED_BY(m_mutex);  // owns the chunks; the queues point into them
    std::deque<Chunk*> m_filled GUARDED_BY(m_mutex);
    std::deque<Chunk*> m_free GUARDED_BY(m_mutex);
    bool m_finished GUARDED_BY(m_mutex) = false;
    bool m_cancelled GUARDED_BY(m_mutex) = false;
    std::exception_ptr m_error GUARDED_BY(m_mutex);
};

// Runs a reader body on a thread of its own and makes sure it has ended before the pipe and whatever
// else it uses go away: Join waits and rethrows the reader's error; the destructor of a thread not yet
// joined (the user stopped early, by an exception) cancels the pipe and waits. The body must end with
// pipe.Finish on every path. Signals are blocked on the reader thread: they belong to the program's
// main thread. The thread carries `name` (at most 15 characters) in tools such as top.
template <class Chunk>
class ChunkReaderThread final {
public:
    template <class Body>
    ChunkReaderThread(ChunkPipe<Chunk>& pipe, const char* name, Body body)
        : m_pipe(pipe), m_thread(platform::StartHelperThread(name, std::move(body))) {}
    ~ChunkReaderThread() {
        if (m_thread.joinable()) {
            m_pipe.Cancel();
            m_thread.join();
        }
    }
    ChunkReaderThread(const ChunkReaderThread&) = delete;
    ChunkReaderThread& operator=(const ChunkReaderThread&) = delete;

    // Waits for the reader to end, then rethrows the error that stopped it, if any.
    void Join() {
        m_thread.join();
        if (std::exception_ptr error = m_pipe.Error()) std::rethrow_exception(error);
    }

private:
    ChunkPipe<Chunk>& m_pipe;
    std::thread m_thread;
};
