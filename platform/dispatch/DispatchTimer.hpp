#pragma once

#include "platform/dispatch/SerialQueue.hpp"

#include <functional>
#include <memory>
#include <optional>

namespace velmor {

// A timer source: once resumed, it calls its handler at its deadline and then, when it repeats,
// every interval, on its queue (or on the pool when it has none). A firing that comes while the
// previous call is still queued or running is merged into it. Destroying the timer cancels it and
// waits for a handler call that is running (see `cancelAndWait`).
class DispatchTimer {
public:
    explicit DispatchTimer(std::optional<SerialQueue> queue = std::nullopt);
    ~DispatchTimer();
    DispatchTimer(const DispatchTimer&) = delete;
    DispatchTimer& operator=(const DispatchTimer&) = delete;

    // First deadline `deadline` seconds from now; repeats every `interval` seconds when one is
    // given. The leeway is how late a firing may be; this timer fires as early as it can and
    // keeps it only as information. May be called again to replace the schedule.
    void schedule(double deadline, std::optional<double> interval = std::nullopt, double leeway = 0);
    void setEventHandler(std::function<void()> handler);
    // Starts the timer; nothing fires before.
    void resume();
    // No handler call starts after `cancel` returns; one that is running goes on to its end.
    // Allowed from inside the handler. The handler is released.
    void cancel();
    // Cancels, then waits until no handler call runs any more, so that what the handler uses may
    // go afterwards. Called from the handler itself it does not wait for that call (it could
    // not end). The handler must not wait for the caller.
    void cancelAndWait();
    bool isCancelled() const;
    double leeway() const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

} // namespace velmor
