#pragma once

#include "platform/dispatch/SerialQueue.hpp"

#include <functional>
#include <memory>
#include <optional>

namespace velmor {

// Counts work in flight: `enter` before, `leave` after. Waiters and notifications go once the
// count is back at zero. Copies share one group.
class DispatchGroup {
public:
    DispatchGroup();

    void enter() const;
    // A `leave` without its `enter` is a programming error and stops the process.
    void leave() const;

    // Runs `work` on `queue` (the pool when none) as one entered unit. When no thread can be made
    // for it, throws `std::system_error`; `work` never runs and the count is as before.
    void async(std::function<void()> work, std::optional<SerialQueue> queue = std::nullopt) const;

    // On the main thread a wait that has to block is caught (see MainThreadBlockCheck.hpp).
    void wait() const;
    // False when `seconds` on the current timer service passed first.
    bool waitFor(double seconds) const;

    // Runs `work` on `queue` (the pool when none) once the count is zero, at once if it is now.
    void notify(std::function<void()> work, std::optional<SerialQueue> queue = std::nullopt) const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

} // namespace velmor
