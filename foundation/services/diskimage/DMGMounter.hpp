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

// Attaches, queries, detaches and unmounts disk images through the disk-image tool. Every tool run
// blocks the caller for up to the tool's time-out; after a time-out the tool and its process group
// are killed and reaped. Success is judged by the tool's property list or the system's state
// afterwards, not by the exit status.
class DMGMounter {
public:
    using AttachedImages = std::map<std::string, std::shared_ptr<DMGMount>>;

    // The extensions the tool takes an image by, lower case; other images go through a link.
    static const std::vector<std::string>& supportedDiskImageExtensions();

    // Attaches every volume of the image read-only, unverified, unrepaired and hidden, in up to three
    // attempts with pauses of 1 and 2 seconds. Throws the file error of making the link,
    // `DMGMounterError` (`alreadyMounted` when the image was attached before the call, `otherError`,
    // `noPartitionsAvailable`), `DMGMount::DMGMountError::timeout`, or the runner's other errors.
    // With `autoDetachOnDealloc` the image is detached, retrying forever, when the mount goes.
    static std::shared_ptr<DMGMount> attach(const URL& diskImageURL, const std::optional<std::string>& password,
                                            bool autoDetachOnDealloc, const LoggerFactory& loggerFactory,
                                            const dmgmounter::Sleeper& sleep = dmgmounter::threadSleeper());

    // The URL the tool is given: the image itself when its extension is supported, else a new link
    // named after it with ".dmg" added, in a fresh folder of the temporary directory.
    struct PreparedDiskImage {
        URL url;
        bool isLink = false;
    };
    static PreparedDiskImage prepareDiskImageURL(const URL& diskImageURL, const LoggerFactory& loggerFactory);
    // One tool run attaching `diskImageURL`; throws `alreadyMounted` without running it when the
    // listing shows the image.
    static std::shared_ptr<DMGMount> runHdiutilAttach(const URL& diskImageURL,
                                                      const std::optional<std::string>& password,
                                                      const LoggerFactory& loggerFactory);
    // The attach run's property list, read from the last property-list header of its output on.
    static std::shared_ptr<DMGMount> parseAttachOutput(const URL& diskImageURL, const NSTask::Bytes& standardOutput,
                                                       const std::optional<NSTask::Bytes>& standardError,
                                                       const LoggerFactory& loggerFactory);

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

    // Detaches the whole image and removes the link attach made for it. With `retryForever` a failure hands the image to the background
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
