#include "platform/dispatch/Semaphore.hpp"

#include "platform/dispatch/Alarm.hpp"

namespace velmor {

void Semaphore::signal() {
    {
        std::lock_guard lock(mutex_);
        ++value_;
    }
    signalled_.notify_one();
}

void Semaphore::wait() {
    std::unique_lock lock(mutex_);
    signalled_.wait(lock, [&] { return value_ > 0; });
    --value_;
}

bool Semaphore::waitFor(double seconds) {
    Alarm alarm(seconds);
    auto stopped = alarm.token();
    // Made before the lock is taken: an alarm that has already rung runs this at once.
    std::stop_callback ring(stopped, [this] {
        std::lock_guard lock(mutex_);
        signalled_.notify_all();
    });
    std::unique_lock lock(mutex_);
    signalled_.wait(lock, [&] { return value_ > 0 || stopped.stop_requested(); });
    if (value_ == 0) {
        return false;
    }
    --value_;
    return true;
}

} // namespace velmor
