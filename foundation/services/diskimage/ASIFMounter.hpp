#pragma once

#include "foundation/core/log/Logger.hpp"
#include "foundation/services/diskimage/DMGMount.hpp"
#include "platform/fs/URL.hpp"

#include <memory>
#include <optional>
#include <string>

namespace velmor {

// Attaches and ejects disk images of the second kind, through the disk-image tool's second verb
// set ("image ... attach", "eject"). Each tool run blocks the caller for up to the tool's time-out
// (`DMGMounter::toolTimeout`, 60 seconds by default).
class ASIFMounter {
public:
    // Attaches the image at `url` read-only and returns its mount with the partitions that have a
    // mount point. A given password goes to the tool on its standard input. `loggerFactory` is only
    // kept for the detach on release, which `autoDetachOnDealloc` asks for; the mount logs through
    // the system log. Throws `DMGMount::DMGMountError::timeout` (the tool killed and reaped), the
    // runner's error, the property-list decoder's error, `DMGMounterError::otherError` for output
    // without "system-entities", and `noPartitionsAvailable` when no entity has a mount point.
    static std::shared_ptr<DMGMount> attach(const URL& url, const std::optional<std::string>& password,
                                            bool autoDetachOnDealloc, LoggerFactory loggerFactory);

    // Ejects the mount's first partition by its whole disk's name, else by its mount point. A
    // partition that is no longer present counts as ejected. A failed eject throws
    // `DMGMounterError::failedToDetach`; with `retryForever` it returns instead and the eject is
    // tried again every 60 seconds in the background (see `ASIFEjectRetrier`). Throws
    // `noPartitionsAvailable` when there is no partition or nothing to name it by.
    static void detach(const DMGMount& mount, bool retryForever, const LoggerFactory& loggerFactory);
};

} // namespace velmor
