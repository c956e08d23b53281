#include "foundation/services/diskimage/DMGUnmounter.hpp"

#include "foundation/services/diskimage/DMGMounter.hpp"
#include "foundation/services/diskimage/StoppedAtExit.hpp"
#include "platform/error/Error.hpp"

namespace velmor {

namespace {

// "[Optional(\"/dev/loop0p1\"), nil]"
std::string describeDevEntries(const std::vector<DMGPartition>& partitions) {
    std::string text = "[";
    for (std::size_t index = 0; index < partitions.size(); ++index) {
        if (index > 0) {
            text += ", ";
        }
        const auto& entry = partitions[index].devEntry();
        text += entry ? "Optional(\"" + *entry + "\")" : "nil";
    }
    return text + "]";
}

StoppedAtExit<DMGUnmounter>& sharedUnmounter() {
    static StoppedAtExit<DMGUnmounter> holder;
    return holder;
}

} // namespace

std::shared_ptr<DMGUnmounter> DMGUnmounter::make() { return std::shared_ptr<DMGUnmounter>(new DMGUnmounter()); }

std::shared_ptr<DMGUnmounter> DMGUnmounter::shared() { return sharedUnmounter().get(); }

void DMGUnmounter::resetShared() { sharedUnmounter().reset(); }

void DMGUnmounter::detachRetryingForever(const DMGMount& mount, const LoggerFactory& loggerFactory,
                                         Completion completion) {
    const auto logger = loggerFactory("DMGMounter");
    logger->debug([&] { return "Will retry detaching " + mount.description() + " forever..."; });
    std::vector<DMGPartition> present = mount.mountablePartitions();
    std::optional<URL> imageURL = mount.internalDiskImageURL() ? mount.internalDiskImageURL() : mount.diskImageURL();
    if (present.empty()) {
        logger->info([&] { return mount.description() + " seems already detached. Will stop trying to detach."; });
        return;
    }
    const DMGPartition* chosen = nullptr;
    for (const auto& partition : present) {
        if (partition.mountPoint()) {
            chosen = &partition;
            break;
        }
    }
    if (chosen == nullptr) {
        logger->debug([&] {
            return mount.description() + " does not contain any partition with a mount point. `devEntries` were (" +
                   describeDevEntries(present) + "). STOPPING DETACHING.";
        });
        throw TypedError<DMGUnmounterError>(DMGUnmounterError::noMountPoint);
    }
    auto attemptLogger = loggerFactory("DMGMounter");
    std::weak_ptr<DMGUnmounter> weakSelf = weak_from_this();
    detachQueue_.async([weakSelf, attemptLogger, partition = *chosen, completion = std::move(completion),
                        present = std::move(present), imageURL = std::move(imageURL)]() mutable {
        if (auto self = weakSelf.lock()) {
            self->start(std::move(attemptLogger), std::move(partition), std::move(completion), std::move(present),
                        std::move(imageURL));
        }
    });
}

void DMGUnmounter::start(std::shared_ptr<Logger> logger, DMGPartition partition, Completion completion,
                         std::vector<DMGPartition> present, std::optional<URL> imageURL) {
    auto scheduler =
        RetryScheduler::make(60.0, 300.0, RetryScheduler::DelayAlgorithm::twoPowerOfCounter, detachQueue_);
    std::weak_ptr<DMGUnmounter> weakSelf = weak_from_this();
    std::weak_ptr<RetryScheduler> weakScheduler = scheduler;
    scheduler->setRetryBlock([weakSelf, weakScheduler, logger, partition, completion, present,
                              imageURL]() -> std::optional<Error> {
        auto self = weakSelf.lock();
        if (!self) {
            return std::nullopt;
        }
        return self->attempt(weakScheduler, *logger, partition, completion, present, imageURL);
    });
    if (!retrySchedulers_.add(scheduler)) {
        return;
    }
    scheduler->try_();
}

std::optional<Error> DMGUnmounter::attempt(const std::weak_ptr<RetryScheduler>& weakScheduler, const Logger& logger,
                                           const DMGPartition& partition, const Completion& completion,
                                           const std::vector<DMGPartition>& present,
                                           const std::optional<URL>& imageURL) {
    const auto scheduler = weakScheduler.lock();
    if (retrySchedulers_.isStopped()) {
        return std::nullopt;
    }
    logger.debug([&] {
        return "Retrying (attempt: " + std::to_string(scheduler ? scheduler->counter() : -1) + "  to detach " +
               partition.description();
    });
    std::optional<Error> failure;
    // A partition gone since the hand-off is detached already; its device may serve another image
    // by now, so the tool is not run on it.
    if (partition.isPresent()) {
        try {
            DMGMounter::runHdiutilDetachPartition(partition, false, logger);
        } catch (...) {
            failure = errorFromException(std::current_exception());
        }
    }
    if (failure) {
        if (scheduler) {
            retrySchedulers_.retry(*scheduler);
        }
        return failure;
    }
    if (completion) {
        completion(present, imageURL);
    }
    if (scheduler) {
        retrySchedulers_.remove(*scheduler);
    }
    return std::nullopt;
}

void DMGUnmounter::shutdown() { retrySchedulers_.shutdown(); }

std::size_t DMGUnmounter::pendingImageCount() const { return retrySchedulers_.size(); }

} // namespace velmor
