#pragma once

#include <functional>
#include <memory>

namespace velmor {

// A block of work that can be called off until it starts. Copies share one item, so the copy that
// was queued and the copy kept for cancelling are the same work.
class DispatchWorkItem {
public:
    explicit DispatchWorkItem(std::function<void()> block);

    // Runs the block, unless the item was cancelled before. The block is released afterwards.
    void perform() const;
    // An item that has not started does nothing when its turn comes; one that has started runs to
    // its end.
    void cancel() const;
    bool isCancelled() const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

} // namespace velmor
