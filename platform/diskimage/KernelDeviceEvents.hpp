#pragma once

#include "platform/fs/Descriptor.hpp"

#include <chrono>
#include <functional>

namespace velmor::diskimage {

// The kernel's device announcements (uevents), for waiting until a device has changed the way one
// expects without polling: open it before the change is asked for, so that no announcement is missed.
class KernelDeviceEvents {
public:
    KernelDeviceEvents();

    // Whether `done` holds, asked at once and again after each announcement, until `timeout` passes.
    // Without the announcements (no socket here) `done` is asked once.
    bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) const;

private:
    Descriptor socket_;
};

} // namespace velmor::diskimage
