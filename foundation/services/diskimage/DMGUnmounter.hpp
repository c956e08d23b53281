#pragma once

#include "foundation/core/log/Logger.hpp"
#include "foundation/services/diskimage/DMGMount.hpp"
#include "foundation/services/diskimage/RetrySchedulerSet.hpp"
#include "platform/dispatch/SerialQueue.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace velmor {

// Detaches images in the background, again and again with growing pauses (at once, then 60, 120,
// 240 and every 300 seconds after a failure), until an attempt succeeds. Attempts run one after
// another on one serial queue; the pauses run on the timer service.
class DMGUnmounter : public std::enable_shared_from_this<DMGUnmounter> {
public:
    enum class DMGUnmounterError { noMountPoint };
    // Runs once after the successful attempt, on the detach queue, with the partitions present at the
    // hand-off and the image's URL.
    using Completion = std::function<void(const std::vector<DMGPartition>&, const std::optional<URL>&)>;

    static std::shared_ptr<DMGUnmounter> make();
    // The one the library uses. It stops at process exit: pending pauses are cancelled and no new
    // attempt starts (one in flight ends at its tool's time-out at worst).
    static std::shared_ptr<DMGUnmounter> shared();
    // Stops the shared one and puts a fresh one in its place.
    static void resetShared();

    // Queues the retrying detach of the first present partition with a mount point. Returns at once;
    // throws `noMountPoint` when no present partition has one; does nothing when none is present.
    void detachRetryingForever(const DMGMount& mount, const LoggerFactory& loggerFactory, Completion completion);

    // Cancels every pending pause and starts no new attempt from now on.
    void shutdown();

    const SerialQueue& detachQueue() const { return detachQueue_; }
    // The schedulers of the images still being detached.
    std::size_t pendingImageCount() const;

private:
    DMGUnmounter() = default;
    void start(std::shared_ptr<Logger> logger, DMGPartition partition, Completion completion,
               std::vector<DMGPartition> present, std::optional<URL> imageURL);
    std::optional<Error> attempt(const std::weak_ptr<RetryScheduler>& scheduler, const Logger& logger,
                                 const DMGPartition& partition, const Completion& completion,
                                 const std::vector<DMGPartition>& present, const std::optional<URL>& imageURL);

    SerialQueue detachQueue_{"com.velmor.foundation.DMGUnmounter-detach"};
    RetrySchedulerSet retrySchedulers_;
};

template <> struct ErrorDomain<DMGUnmounter::DMGUnmounterError> {
    static constexpr const char* value = "VelmorFoundation.DMGUnmounter.DMGUnmounterError";
};

} // namespace velmor
