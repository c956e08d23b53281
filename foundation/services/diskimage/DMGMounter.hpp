#pragma once

#include "foundation/core/log/Logger.hpp"
#include "foundation/core/process/NSTask.hpp"
#include "foundation/services/diskimage/DMGMount.hpp"
#include "foundation/services/diskimage/DMGMounterRetry.hpp"
#include "platform/coding/Value.hpp"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmor {

// Queries, detaches and unmounts attached disk images through the disk-image tool. Every tool run
// blocks the caller for up to the tool's time-out; after a time-out the tool and its process group
// are killed and reaped. Success is judged by the system's state afterwards, not by the exit status.
class DMGMounter {
public:
    using AttachedImages = std::map<std::string, std::shared_ptr<DMGMount>>;

    // The attached images keyed by their standardized image path. Throws `DMGMounterError::otherError`
    // when the listing cannot be read, and the runner's error (its time-out included) unchanged.
    static AttachedImages attachedDiskImages(const LoggerFactory& loggerFactory);
    // The mount of the image at `diskImageURL` when it is attached; nothing otherwise or on failure.
    static std::shared_ptr<DMGMount> checkIfAttached(const URL& diskImageURL, const LoggerFactory& loggerFactory);
    // A mount from the tool's "system-entities"; with `checkMountable`, entities that are not
    // potentially mountable are kept without mount point. Throws `noPartitionsAvailable`.
    static std::shared_ptr<DMGMount> makeMount(const URL& imageURL, const coding::Array& systemEntities,
                                               bool checkMountable, const LoggerFactory& loggerFactory);
    static AttachedImages parseInfoOutput(const NSTask::Bytes& standardOutput,
                                          const std::optional<NSTask::Bytes>& standardError,
                                          const LoggerFactory& loggerFactory);

    // Detaches the whole image. With `retryForever` a failure hands the image to the background
    // detacher and nothing is thrown.
    static void detach(const std::shared_ptr<DMGMount>& mount, bool force, bool retryForever,
                       const LoggerFactory& loggerFactory);
    // Unmounts one partition, up to 10 attempts with pauses of 1 to 9 seconds.
    static void unmount(const DMGPartition& partition, bool force, const LoggerFactory& loggerFactory,
                        const dmgmounter::Sleeper& sleep = dmgmounter::threadSleeper());

    static void detachImageOnce(const DMGMount& mount, bool force, const LoggerFactory& loggerFactory);
    static void unmountPartitionOnce(const DMGPartition& partition, bool force, const LoggerFactory& loggerFactory);
    static void runHdiutilUnmount(const DMGPartition& partition, bool force, const LoggerFactory& loggerFactory);
    static void runHdiutilDetachPartition(const DMGPartition& partition, bool force, const Logger& logger);

    // Removes the link at `link` only when the mount made it (`owned`) and it is still a symbolic
    // link, then its folder when empty. Failures are ignored.
    static void removeOwnedLink(const std::optional<URL>& link, bool owned);

    // How long one tool run may take, in seconds on the timer service's clock (60 by default).
    static double toolTimeout();
    static void setToolTimeout(double seconds);
};

} // namespace velmor
