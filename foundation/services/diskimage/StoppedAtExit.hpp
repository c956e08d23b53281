#pragma once

#include <memory>
#include <mutex>

namespace velmor {

// The one process-wide instance of a background retrier `T` (with `T::make()` and `shutdown()`),
// made on first use. At process exit it is shut down: its pending pauses are cancelled and no new
// attempt starts. The instance itself is never released, since work still queued at exit may hold
// it weakly and must find it there.
template <typename T> class StoppedAtExit {
public:
    StoppedAtExit() = default;
    StoppedAtExit(const StoppedAtExit&) = delete;
    StoppedAtExit& operator=(const StoppedAtExit&) = delete;

    ~StoppedAtExit() {
        std::lock_guard lock(mutex_);
        (*instance_)->shutdown();
    }

    std::shared_ptr<T> get() {
        std::lock_guard lock(mutex_);
        return *instance_;
    }

    // Shuts the current one down and puts a fresh one in its place.
    void reset() {
        std::lock_guard lock(mutex_);
        (*instance_)->shutdown();
        *instance_ = T::make();
    }

private:
    std::mutex mutex_;
    std::shared_ptr<T>* instance_ = new std::shared_ptr<T>(T::make());
};

} // namespace velmor
