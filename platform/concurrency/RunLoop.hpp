#pragma once

#include "platform/concurrency/MainActor.hpp"

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace velmor {

// A main executor that the owning thread pumps by hand: tests install one on their own thread
// and run it until what they wait for has happened.
class RunLoop : public MainExecutor {
public:
    void post(std::function<void()> job) override;

    // Runs posted jobs until `predicate` holds, checking it before and after every job and
    // whenever a short wait for new jobs ends. False when `timeoutSeconds` of real time passed
    // first: the limit only keeps a broken test from hanging.
    bool runUntil(const std::function<bool()>& predicate, double timeoutSeconds = 30);
    // Runs jobs until none is queued, those posted meanwhile included.
    void drain();
    // How many jobs are queued.
    std::size_t pending();

private:
    bool runOne();

    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> jobs_;
};

// For a test: a run loop installed as the main executor on the calling thread for the life of
// the scope. Jobs still queued at the end are run before the executor is removed.
class ScopedMainRunLoop {
public:
    ScopedMainRunLoop();
    ~ScopedMainRunLoop();
    ScopedMainRunLoop(const ScopedMainRunLoop&) = delete;
    ScopedMainRunLoop& operator=(const ScopedMainRunLoop&) = delete;

    RunLoop& loop() { return *loop_; }
    bool runUntil(const std::function<bool()>& predicate, double timeoutSeconds = 30) {
        return loop_->runUntil(predicate, timeoutSeconds);
    }

private:
    std::shared_ptr<RunLoop> loop_;
};

} // namespace velmor
