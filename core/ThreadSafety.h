// Clang thread-safety annotations, and the mutex, lock and condition variable they apply to.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

// clang checks these at compile time (-Wthread-safety); other compilers see nothing.
#if defined(__clang__)
#define QUARVEL_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define QUARVEL_THREAD_ANNOTATION(x)
#endif

// A type that is a lock.
#define CAPABILITY(name) QUARVEL_THREAD_ANNOTATION(capability(name))
// A type that holds a lock from its construction to its destruction.
#define SCOPED_CAPABILITY QUARVEL_THREAD_ANNOTATION(scoped_lockable)
// A member read or written only while the named lock is held.
#define GUARDED_BY(lock) QUARVEL_THREAD_ANNOTATION(guarded_by(lock))
// A pointer whose target is read or written only while the named lock is held.
#define PT_GUARDED_BY(lock) QUARVEL_THREAD_ANNOTATION(pt_guarded_by(lock))
// A function the caller must call with the locks held, or without them.
#define REQUIRES(...) QUARVEL_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) QUARVEL_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
// A function that takes, gives back or tries to take the locks.
#define ACQUIRE(...) QUARVEL_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) QUARVEL_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) QUARVEL_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
// A function that returns a reference to the named lock.
#define RETURN_CAPABILITY(lock) QUARVEL_THREAD_ANNOTATION(lock_returned(lock))
// A function the analysis must not look into; say why wherever it is used.
#define NO_THREAD_SAFETY_ANALYSIS QUARVEL_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace Quarvel {

// A std::mutex that the analysis knows as a lock (libstdc++'s carries no annotations).
class CAPABILITY("mutex") Mutex {
public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    // Blocks until the lock is held. Thread-safe; not reentrant.
    void lock() ACQUIRE() { mutex.lock(); }
    // Gives back a lock this thread holds.
    void unlock() RELEASE() { mutex.unlock(); }
    // Takes the lock if it is free; true when it was taken.
    bool try_lock() TRY_ACQUIRE(true) { return mutex.try_lock(); }

private:
    friend class MutexLock;
    std::mutex mutex;
};

// Holds a Mutex from construction to destruction (or between unlock() and lock()).
class SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : held(mutex.mutex) {}
    ~MutexLock() RELEASE() {}
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

    // Lets go for a while (a blocking call that must not hold the lock), and takes it again.
    void unlock() RELEASE() { held.unlock(); }
    void lock() ACQUIRE() { held.lock(); }

private:
    friend class ConditionVariable;
    std::unique_lock<std::mutex> held;
};

// A condition variable waited on with a MutexLock. The waits give the lock back while they
// sleep and hold it again when they return, as the analysis assumes; callers test their
// condition in a loop (spurious wake-ups), reading guarded members under the lock.
class ConditionVariable {
public:
    // Sleeps until notified (or woken spuriously).
    void wait(MutexLock& lock) { condition.wait(lock.held); }
    // Sleeps until notified or until `deadline`; false when the deadline has passed.
    template <typename Clock, typename Duration>
    bool waitUntil(MutexLock& lock, const std::chrono::time_point<Clock, Duration>& deadline) {
        return condition.wait_until(lock.held, deadline) == std::cv_status::no_timeout;
    }
    // Wakes every waiter. May be called with or without the lock held.
    void notifyAll() { condition.notify_all(); }
    void notifyOne() { condition.notify_one(); }

private:
    std::condition_variable condition;
};

}  // namespace Quarvel
