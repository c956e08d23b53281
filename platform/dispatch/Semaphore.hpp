#pragma once

#include <condition_variable>
#include <mutex>

namespace velmor {

// A counting semaphore whose wait can give up at a deadline.
class Semaphore {
public:
    explicit Semaphore(long value = 0) : value_(value) {}

    void signal();
    void wait();
    // False when `seconds` on the current timer service passed before a signal came.
    bool waitFor(double seconds);

private:
    std::mutex mutex_;
    // A plain condition variable: the one that takes a stop token notifies under a lock of its
    // own, so each signal would wake the waiter twice.
    std::condition_variable signalled_;
    long value_;
};

} // namespace velmor
