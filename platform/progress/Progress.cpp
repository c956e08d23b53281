#include "platform/progress/Progress.hpp"

namespace velmor {

void Progress::cancel() {
    std::function<void()> handler;
    {
        std::lock_guard lock(handlerMutex_);
        if (cancelled_.exchange(true)) {
            return;
        }
        handler.swap(cancellationHandler_);
    }
    if (handler) {
        handler();
    }
}

void Progress::setCancellationHandler(std::function<void()> handler) {
    {
        std::lock_guard lock(handlerMutex_);
        if (!cancelled_.load()) {
            cancellationHandler_ = std::move(handler);
            return;
        }
    }
    if (handler) {
        handler();
    }
}

} // namespace velmor
