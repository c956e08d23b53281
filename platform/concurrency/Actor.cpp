#include "platform/concurrency/Actor.hpp"

#include "platform/concurrency/Task.hpp"
#include "platform/error/FatalError.hpp"

#include <algorithm>

namespace velmor {

namespace {

// The actors the calling thread holds, in the order it took them.
thread_local std::vector<const Actor*> heldActors;

void forget(const Actor* actor) {
    heldActors.erase(std::find(heldActors.begin(), heldActors.end(), actor));
}

} // namespace

bool Actor::acquire(unsigned depth) const {
    auto self = std::this_thread::get_id();
    {
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
    }
    heldActors.push_back(this);
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
    forget(this);
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
    forget(this);
    free_.notify_one();
}

namespace detail {

HeldActorsRelease::HeldActorsRelease() {
    // A copy: giving an actor up takes it off the list.
    std::vector<const Actor*> held = heldActors;
    for (const Actor* actor : held) {
        if (actor->reentrancy_ == Actor::Reentrancy::reentrant) {
            released_.emplace_back(actor, actor->relinquish());
        }
    }
}

HeldActorsRelease::~HeldActorsRelease() {
    for (auto [actor, depth] : released_) {
        actor->acquire(depth);
    }
}

} // namespace detail

void Actor::sleep(double seconds) const {
    suspend([&] { AnyTask::sleep(seconds); });
}

bool Actor::isHoldingAny() {
    return !heldActors.empty();
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
