#pragma once

#include "platform/concurrency/MainActor.hpp"

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class QSocketNotifier;

namespace marrowdale {

// The main executor of the interface: jobs queue under a mutex and an eventfd wakes the Qt event
// loop, which runs them in the order they were posted. Nothing a worker allocates passes through
// Qt's own event queue, whose locks the thread sanitizer cannot see.
//
// Made on the main thread once the application exists, and installed with `MainActor::install`
// before the model is made.
class QtMainExecutor : public velmor::MainExecutor {
public:
    QtMainExecutor();
    ~QtMainExecutor() override;
    QtMainExecutor(const QtMainExecutor&) = delete;
    QtMainExecutor& operator=(const QtMainExecutor&) = delete;

    // From any thread.
    void post(std::function<void()> job) override;
    // On the main thread, once the event loop has ended: runs what is queued, and what those jobs
    // queue in turn, until nothing is left.
    void runPending();

private:
    // On the main thread, when the eventfd is readable: runs what was queued up to now. Jobs posted
    // meanwhile wait for the next pass, so other events get their turn.
    void runPosted();
    // Runs the jobs queued up to now; false when there were none.
    bool runBatch();

    std::mutex mutex_;
    std::deque<std::function<void()>> jobs_;
    int wakeup_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace marrowdale
