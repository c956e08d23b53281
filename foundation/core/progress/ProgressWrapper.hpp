#pragma once

#include "foundation/core/progress/ProgressHandler.hpp"
#include "platform/dispatch/DispatchTimer.hpp"
#include "platform/progress/Progress.hpp"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace velmor {

// A handler that counts in two atomics and copies the counts into its progress object ten times a
// second, so an increment costs one atomic addition and observers of the object are woken at most
// every 0.1 s. It lives until `completed()`: its timer holds it until then.
class ProgressWrapper : public ProgressHandler, public std::enable_shared_from_this<ProgressWrapper> {
public:
    // Continues from the figures `progress` shows already.
    static std::shared_ptr<ProgressWrapper> make(std::shared_ptr<Progress> progress);
    ~ProgressWrapper() override;

    bool isCancellable() const { return progress_->isCancellable(); }
    bool isCancelled() const override { return progress_->isCancelled(); }
    // "<ProgressWrapper: 0x...> - completedUnitCount:<n> / totalUnitCount:<n>"
    std::string debugDescription() const;

    void incrementTotalUnitCount() override { totalUnitCount_.fetch_add(1, std::memory_order_relaxed); }
    void incrementCompletedUnitCount() override {
        completedUnitCount_.fetch_add(1, std::memory_order_relaxed);
    }
    // Stops the timer and copies the final counts.
    void completed() override;
    // Cancels the progress object; the counting and the timer go on.
    void cancel() { progress_->cancel(); }

    const std::shared_ptr<Progress>& progress() const { return progress_; }

private:
    explicit ProgressWrapper(std::shared_ptr<Progress> progress);
    void copyCounts();

    std::shared_ptr<Progress> progress_;
    std::atomic<std::int64_t> totalUnitCount_{0};
    std::atomic<std::int64_t> completedUnitCount_{0};
    // Orders the copies: a tick that read the counts earlier must not overwrite the final copy.
    std::mutex copyMutex_;
    DispatchTimer timer_;
};

} // namespace velmor
