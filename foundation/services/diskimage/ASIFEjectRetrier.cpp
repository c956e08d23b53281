#include "foundation/services/diskimage/ASIFEjectRetrier.hpp"

#include "foundation/services/diskimage/StoppedAtExit.hpp"

namespace velmor {

namespace {

StoppedAtExit<ASIFEjectRetrier>& sharedRetrier() {
    static StoppedAtExit<ASIFEjectRetrier> holder;
    return holder;
}

} // namespace

std::shared_ptr<ASIFEjectRetrier> ASIFEjectRetrier::make() {
    return std::shared_ptr<ASIFEjectRetrier>(new ASIFEjectRetrier());
}

std::shared_ptr<ASIFEjectRetrier> ASIFEjectRetrier::shared() { return sharedRetrier().get(); }

void ASIFEjectRetrier::resetShared() { sharedRetrier().reset(); }

void ASIFEjectRetrier::retryEvery60Seconds(DMGPartition partition, Eject eject) {
    auto scheduler = RetryScheduler::make(60.0, 60.0, RetryScheduler::DelayAlgorithm::constant, detachQueue_);
    std::weak_ptr<ASIFEjectRetrier> weakSelf = weak_from_this();
    std::weak_ptr<RetryScheduler> weakScheduler = scheduler;
    scheduler->setRetryBlock([weakSelf, weakScheduler, partition = std::move(partition),
                              eject = std::move(eject)]() -> std::optional<Error> {
        auto self = weakSelf.lock();
        if (!self) {
            return std::nullopt;
        }
        return self->attempt(weakScheduler, partition, eject);
    });
    if (retrySchedulers_.add(scheduler)) {
        retrySchedulers_.retry(*scheduler);
    }
}

std::optional<Error> ASIFEjectRetrier::attempt(const std::weak_ptr<RetryScheduler>& weakScheduler,
                                               const DMGPartition& partition, const Eject& eject) {
    const auto scheduler = weakScheduler.lock();
    if (retrySchedulers_.isStopped()) {
        return std::nullopt;
    }
    if (partition.isPresent()) {
        try {
            eject();
        } catch (...) {
            if (scheduler) {
                retrySchedulers_.retry(*scheduler);
            }
            return errorFromException(std::current_exception());
        }
    }
    if (scheduler) {
        retrySchedulers_.remove(*scheduler);
    }
    return std::nullopt;
}

void ASIFEjectRetrier::shutdown() { retrySchedulers_.shutdown(); }

std::size_t ASIFEjectRetrier::pendingCount() const { return retrySchedulers_.size(); }

} // namespace velmor
