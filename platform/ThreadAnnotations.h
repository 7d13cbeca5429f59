// Lock annotations that clang checks (-Wthread-safety; the ThreadSanitizer build uses clang and turns the
// warnings into errors), and the annotated mutex types they need. With other compilers the macros are
// empty and the types are the standard ones underneath.
//
// How to use them: a field guarded by a lock says so with GUARDED_BY(lock); a function that must be called
// with the lock held says REQUIRES(lock); one that takes the lock itself and must not be called with it held
// says EXCLUDES(lock). Lock with MutexLock / RecursiveMutexLock (scoped), or, where a condition variable
// waits, with UniqueMutexLock, whose native() is the std::unique_lock the condition variable needs.
//
// The standard library's own mutexes carry no annotations, so shared state in this program uses these types.
#pragma once

#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define SINJO_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define SINJO_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) SINJO_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY SINJO_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) SINJO_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) SINJO_THREAD_ANNOTATION(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) SINJO_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) SINJO_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define REQUIRES(...) SINJO_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) SINJO_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) SINJO_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) SINJO_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) SINJO_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) SINJO_THREAD_ANNOTATION(assert_capability(x))
#define RETURN_CAPABILITY(x) SINJO_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS SINJO_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace platform {

// A plain (non-recursive) mutex.
class CAPABILITY("mutex") Mutex {
public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock() ACQUIRE() { m_.lock(); }
    void unlock() RELEASE() { m_.unlock(); }
    bool try_lock() TRY_ACQUIRE(true) { return m_.try_lock(); }

    std::mutex& native() { return m_; }

private:
    std::mutex m_;
};

// A recursive mutex: the same thread may take it again while it holds it (the catalogue lock is one).
class CAPABILITY("mutex") RecursiveMutex {
public:
    RecursiveMutex() = default;
    RecursiveMutex(const RecursiveMutex&) = delete;
    RecursiveMutex& operator=(const RecursiveMutex&) = delete;

    void lock() ACQUIRE() { m_.lock(); }
    void unlock() RELEASE() { m_.unlock(); }
    bool try_lock() TRY_ACQUIRE(true) { return m_.try_lock(); }

private:
    std::recursive_mutex m_;
};

// Holds a Mutex for its scope.
class SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : m_(mutex) { m_.lock(); }
    ~MutexLock() RELEASE() { m_.unlock(); }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

private:
    Mutex& m_;
};

// Holds a RecursiveMutex for its scope.
class SCOPED_CAPABILITY RecursiveMutexLock {
public:
    explicit RecursiveMutexLock(RecursiveMutex& mutex) ACQUIRE(mutex) : m_(mutex) { m_.lock(); }
    ~RecursiveMutexLock() RELEASE() { m_.unlock(); }
    RecursiveMutexLock(const RecursiveMutexLock&) = delete;
    RecursiveMutexLock& operator=(const RecursiveMutexLock&) = delete;

private:
    RecursiveMutex& m_;
};

// Holds a Mutex for its scope and lets a condition variable wait on it: native() is the std::unique_lock
// that std::condition_variable::wait takes (the wait releases and retakes the mutex; to the analysis the
// lock is held throughout, which is what the code after the wait may assume).
class SCOPED_CAPABILITY UniqueMutexLock {
public:
    explicit UniqueMutexLock(Mutex& mutex) ACQUIRE(mutex) : m_(mutex.native()) {}
    ~UniqueMutexLock() RELEASE() {}
    UniqueMutexLock(const UniqueMutexLock&) = delete;
    UniqueMutexLock& operator=(const UniqueMutexLock&) = delete;

    std::unique_lock<std::mutex>& native() { return m_; }

private:
    std::unique_lock<std::mutex> m_;
};

}  // namespace platform
