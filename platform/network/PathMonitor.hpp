#pragma once

#include "platform/dispatch/SerialQueue.hpp"

#include <functional>

namespace velmor {

// What a path monitor knows of the network: whether a usable route exists, not whether the
// internet answers.
struct NetworkPath {
    enum class Status { satisfied, unsatisfied, requiresConnection };
    Status status = Status::unsatisfied;

    friend bool operator==(const NetworkPath&, const NetworkPath&) = default;
};

// Watches the network path and tells its handler, on the queue it was started on, the path once at
// start and then on each change.
class PathMonitor {
public:
    using UpdateHandler = std::function<void(const NetworkPath& path)>;

    virtual ~PathMonitor() = default;

    // Set before `start`.
    virtual void setPathUpdateHandler(UpdateHandler handler) = 0;
    virtual void start(SerialQueue queue) = 0;
    // No update is delivered once it returns, apart from one that is already running; the handler
    // is released. Allowed from the handler.
    virtual void cancel() = 0;
};

} // namespace velmor
