#include "platform/concurrency/RunLoop.hpp"

#include <chrono>

namespace velmor {

void RunLoop::post(std::function<void()> job) {
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    posted_.notify_one();
}

bool RunLoop::runOne() {
    std::function<void()> job;
    {
        std::lock_guard lock(mutex_);
        if (jobs_.empty()) {
            return false;
        }
        job = std::move(jobs_.front());
        jobs_.pop_front();
    }
    job();
    return true;
}

bool RunLoop::runUntil(const std::function<bool()>& predicate, double timeoutSeconds) {
    using Clock = std::chrono::steady_clock;
    auto limit = Clock::now() +
                 std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeoutSeconds));
    for (;;) {
        if (predicate()) {
            return true;
        }
        if (runOne()) {
            continue;
        }
        if (Clock::now() >= limit) {
            return false;
        }
        // The predicate may turn true without a job being posted (work on other threads), so it
        // is looked at again after a short wait.
        std::unique_lock lock(mutex_);
        posted_.wait_for(lock, std::chrono::milliseconds(2), [&] { return !jobs_.empty(); });
    }
}

std::size_t RunLoop::pending() {
    std::lock_guard lock(mutex_);
    return jobs_.size();
}

void RunLoop::drain() {
    while (runOne()) {
    }
}

ScopedMainRunLoop::ScopedMainRunLoop() : loop_(std::make_shared<RunLoop>()) {
    MainActor::install(loop_);
}

ScopedMainRunLoop::~ScopedMainRunLoop() {
    loop_->drain();
    MainActor::uninstall();
}

} // namespace velmor
