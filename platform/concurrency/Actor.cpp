#include "platform/concurrency/Actor.hpp"

#include "platform/concurrency/Task.hpp"
#include "platform/error/FatalError.hpp"

namespace velmor {

bool Actor::acquire(unsigned depth) const {
    auto self = std::this_thread::get_id();
    std::unique_lock lock(mutex_);
    if (owner_ == self) {
        ++depth_;
        return false;
    }
    if (depth_ != 0) {
        detail::checkNotBlockingMain("Actor::run");
    }
    free_.wait(lock, [&] { return depth_ == 0; });
    owner_ = self;
    depth_ = depth;
    return true;
}

unsigned Actor::relinquish() const {
    unsigned depth;
    {
        std::lock_guard lock(mutex_);
        depth = depth_;
        depth_ = 0;
        owner_ = std::thread::id();
    }
    free_.notify_one();
    return depth;
}

void Actor::leave() const {
    {
        std::lock_guard lock(mutex_);
        if (--depth_ > 0) {
            return;
        }
        owner_ = std::thread::id();
    }
    free_.notify_one();
}

void Actor::sleep(double seconds) const {
    suspend([&] { AnyTask::sleep(seconds); });
}

bool Actor::isIsolated() const {
    std::lock_guard lock(mutex_);
    return depth_ > 0 && owner_ == std::this_thread::get_id();
}

void Actor::assertIsolated() const {
    if (!isIsolated()) {
        fatalError("actor " + label_ + " used from a thread that does not hold it");
    }
}

} // namespace velmor
