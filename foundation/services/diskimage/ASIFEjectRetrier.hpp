#pragma once

#include "foundation/services/diskimage/DMGPartition.hpp"
#include "foundation/services/diskimage/RetrySchedulerSet.hpp"
#include "platform/dispatch/SerialQueue.hpp"

#include <functional>
#include <memory>

namespace velmor {

// Ejects again, every 60 seconds, the partitions of images of the second kind whose eject failed.
// Attempts run one after another on the serial queue
// "com.velmor.VelmorFoundation.ASIFMounter.detachQueue"; the pauses run on the timer service. A
// chain of attempts ends when one succeeds, when its partition is no longer present (the image
// went, or its device now holds another image, which must not be ejected in its place), and at
// shutdown.
class ASIFEjectRetrier : public std::enable_shared_from_this<ASIFEjectRetrier> {
public:
    // One eject of the partition; it throws when the eject failed.
    using Eject = std::function<void()>;

    static std::shared_ptr<ASIFEjectRetrier> make();
    // The one the library uses. It stops at process exit: pending pauses are cancelled and no new
    // attempt starts.
    static std::shared_ptr<ASIFEjectRetrier> shared();
    // Stops the shared one and puts a fresh one in its place.
    static void resetShared();

    // Runs `eject` 60 seconds from now, and again 60 seconds after each failure, while `partition`
    // is present. Returns at once.
    void retryEvery60Seconds(DMGPartition partition, Eject eject);

    // Cancels every pending pause and starts no new attempt from now on.
    void shutdown();

    const SerialQueue& detachQueue() const { return detachQueue_; }
    // The partitions still waiting for an eject that works.
    std::size_t pendingCount() const;

private:
    ASIFEjectRetrier() = default;
    std::optional<Error> attempt(const std::weak_ptr<RetryScheduler>& scheduler, const DMGPartition& partition,
                                 const Eject& eject);

    SerialQueue detachQueue_{"com.velmor.VelmorFoundation.ASIFMounter.detachQueue"};
    RetrySchedulerSet retrySchedulers_;
};

} // namespace velmor
