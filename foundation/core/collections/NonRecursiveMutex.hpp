#pragma once

#include <mutex>
#include <shared_mutex>

namespace velmor {

// Debug builds keep, per thread, the locks that thread holds, so that taking a lock it already
// holds stops with a message instead of deadlocking without a trace.
namespace lockOwnership {
// Stops the process when the calling thread already holds `lock`; `owner` names the type in the
// message.
void willLock(const void* lock, const char* owner) noexcept;
void didLock(const void* lock) noexcept;
void didUnlock(const void* lock) noexcept;
} // namespace lockOwnership

// A mutex (exclusive, or shared when `Mutex` is a shared mutex) that a debug build checks for
// re-entry from the thread holding it. The boxes and collections run callers' closures under their
// lock; a closure that uses the same object again would otherwise hang forever.
template <typename Mutex = std::mutex> class NonRecursiveMutex {
public:
    explicit NonRecursiveMutex(const char* owner) : owner_(owner) {}
    NonRecursiveMutex(const NonRecursiveMutex&) = delete;
    NonRecursiveMutex& operator=(const NonRecursiveMutex&) = delete;

    void lock() {
        willLock();
        mutex_.lock();
        didLock();
    }
    void unlock() {
        didUnlock();
        mutex_.unlock();
    }

    void lock_shared() requires requires(Mutex& mutex) { mutex.lock_shared(); }
    {
        willLock();
        mutex_.lock_shared();
        didLock();
    }
    void unlock_shared() requires requires(Mutex& mutex) { mutex.unlock_shared(); }
    {
        didUnlock();
        mutex_.unlock_shared();
    }

private:
#ifdef NDEBUG
    void willLock() const noexcept {}
    void didLock() const noexcept {}
    void didUnlock() const noexcept {}
#else
    void willLock() const noexcept {
        lockOwnership::willLock(this, owner_);
    }
    void didLock() const noexcept {
        lockOwnership::didLock(this);
    }
    void didUnlock() const noexcept {
        lockOwnership::didUnlock(this);
    }
#endif

    Mutex mutex_;
    [[maybe_unused]] const char* owner_;
};

} // namespace velmor
