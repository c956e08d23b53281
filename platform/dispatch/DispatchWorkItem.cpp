#include "platform/dispatch/DispatchWorkItem.hpp"

#include <mutex>

namespace velmor {

struct DispatchWorkItem::State {
    std::mutex mutex;
    std::function<void()> block;
    bool cancelled = false;
};

DispatchWorkItem::DispatchWorkItem(std::function<void()> block) : state_(std::make_shared<State>()) {
    state_->block = std::move(block);
}

void DispatchWorkItem::perform() const {
    std::function<void()> block;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->cancelled) {
            return;
        }
        block = std::move(state_->block);
    }
    if (block) {
        block();
    }
}

void DispatchWorkItem::cancel() const {
    // Dropped outside the lock: what the block holds may cancel other items on its way out.
    std::function<void()> dropped;
    std::lock_guard lock(state_->mutex);
    state_->cancelled = true;
    dropped = std::move(state_->block);
}

bool DispatchWorkItem::isCancelled() const {
    std::lock_guard lock(state_->mutex);
    return state_->cancelled;
}

} // namespace velmor
