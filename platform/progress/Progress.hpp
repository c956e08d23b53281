#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace velmor {

// The progress of one long operation, shared between the code that does the work and the code
// that shows or stops it: two unit counts and a cancelled flag, safe to use from any thread.
class Progress {
public:
    explicit Progress(std::int64_t totalUnitCount = 0) : totalUnitCount_(totalUnitCount) {}
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    std::int64_t totalUnitCount() const { return totalUnitCount_.load(); }
    void setTotalUnitCount(std::int64_t count) { totalUnitCount_.store(count); }
    std::int64_t completedUnitCount() const { return completedUnitCount_.load(); }
    void setCompletedUnitCount(std::int64_t count) { completedUnitCount_.store(count); }

    // Whether a user interface may offer to cancel; `cancel()` works either way.
    bool isCancellable() const { return cancellable_.load(); }
    void setCancellable(bool cancellable) { cancellable_.store(cancellable); }

    bool isCancelled() const { return cancelled_.load(); }
    // Marks the progress cancelled and runs the cancellation handler, once, on this thread.
    void cancel();
    // Runs once when the progress is cancelled, at once (on this thread) when it already is.
    // Replaces a handler that has not run yet.
    void setCancellationHandler(std::function<void()> handler);

private:
    std::atomic<std::int64_t> totalUnitCount_;
    std::atomic<std::int64_t> completedUnitCount_{0};
    std::atomic<bool> cancellable_{true};
    std::atomic<bool> cancelled_{false};
    std::mutex handlerMutex_;
    std::function<void()> cancellationHandler_;
};

} // namespace velmor
