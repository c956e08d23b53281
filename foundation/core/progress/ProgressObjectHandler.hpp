#pragma once

#include "foundation/core/progress/ProgressHandler.hpp"
#include "platform/progress/Progress.hpp"

#include <memory>

namespace velmor {

// A progress object used directly as a handler: every increment is written through at once.
// An increment reads, adds and writes, so work that counts from several threads at once uses a
// `ProgressWrapper` instead.
class ProgressObjectHandler : public ProgressHandler {
public:
    explicit ProgressObjectHandler(std::shared_ptr<Progress> progress) : progress_(std::move(progress)) {}

    bool isCancelled() const override { return progress_->isCancelled(); }
    void incrementTotalUnitCount() override { progress_->setTotalUnitCount(progress_->totalUnitCount() + 1); }
    void incrementCompletedUnitCount() override {
        progress_->setCompletedUnitCount(progress_->completedUnitCount() + 1);
    }
    // The figures are always up to date already.
    void completed() override {}

    const std::shared_ptr<Progress>& progress() const { return progress_; }

private:
    std::shared_ptr<Progress> progress_;
};

} // namespace velmor
