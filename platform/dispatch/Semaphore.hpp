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
    std::condition_variable_any signalled_;
    long value_;
};

} // namespace velmor
