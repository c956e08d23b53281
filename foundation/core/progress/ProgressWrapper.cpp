#include "foundation/core/progress/ProgressWrapper.hpp"

#include <cinttypes>
#include <cstdio>

namespace velmor {

namespace {
constexpr double period = 0.1;
constexpr double leeway = 0.05;
} // namespace

ProgressWrapper::ProgressWrapper(std::shared_ptr<Progress> progress) : progress_(std::move(progress)) {
    totalUnitCount_.store(progress_->totalUnitCount());
    completedUnitCount_.store(progress_->completedUnitCount());
}

std::shared_ptr<ProgressWrapper> ProgressWrapper::make(std::shared_ptr<Progress> progress) {
    std::shared_ptr<ProgressWrapper> wrapper(new ProgressWrapper(std::move(progress)));
    wrapper->timer_.schedule(period, period, leeway);
    // Holds the wrapper until `completed()` cancels the timer.
    wrapper->timer_.setEventHandler([wrapper] { wrapper->copyCounts(); });
    wrapper->timer_.resume();
    return wrapper;
}

ProgressWrapper::~ProgressWrapper() {
    timer_.cancel();
    copyCounts();
}

void ProgressWrapper::copyCounts() {
    std::lock_guard lock(copyMutex_);
    progress_->setTotalUnitCount(totalUnitCount_.load(std::memory_order_relaxed));
    progress_->setCompletedUnitCount(completedUnitCount_.load(std::memory_order_relaxed));
}

void ProgressWrapper::completed() {
    timer_.cancel();
    copyCounts();
}

std::string ProgressWrapper::debugDescription() const {
    char text[160];
    std::snprintf(text, sizeof text,
                  "<ProgressWrapper: 0x%016" PRIxPTR "> - completedUnitCount:%" PRId64
                  " / totalUnitCount:%" PRId64,
                  reinterpret_cast<std::uintptr_t>(this), completedUnitCount_.load(), totalUnitCount_.load());
    return text;
}

} // namespace velmor
