#include "foundation/services/fsevents/FSEventSequence.hpp"

#include "platform/concurrency/CheckedContinuation.hpp"
#include "platform/fsevents/FSEventStream.hpp"

#include <mutex>

namespace velmor {

struct FSEventIterator::State {
    // Resumes the one waiting `next()`, if any: on a change batch and on cancellation.
    void tick() {
        std::optional<CheckedContinuation<void>> waiting;
        {
            std::lock_guard lock(resumingLock);
            waiting = std::exchange(pendingContinuation, std::nullopt);
        }
        if (waiting) {
            waiting->resume();
        }
    }

    std::mutex resumingLock;
    std::optional<CheckedContinuation<void>> pendingContinuation;
};

FSEventIterator::FSEventIterator(const URL& url, bool /*generateEventsForFiles*/)
    : state_(std::make_shared<State>()) {
    auto stream = std::make_unique<FSEventStream>(url.path(), latency, FSEventStream::Scope::path,
                                                  [state = state_] { state->tick(); });
    if (stream->start()) {
        handle_ = std::move(stream);
    }
}

FSEventIterator::~FSEventIterator() {
    if (handle_) {
        handle_->stop();
        handle_.reset();
    }
}

std::optional<FSEventIterator::Element> FSEventIterator::next() {
    auto state = state_;
    return withCancellationHandler(
        [&]() -> std::optional<Element> {
            withCheckedContinuation<void>("next()", [&](CheckedContinuation<void> continuation) {
                std::optional<CheckedContinuation<void>> older;
                {
                    std::lock_guard lock(state->resumingLock);
                    if (AnyTask::isCancelled()) {
                        older = continuation;
                    } else {
                        older = std::exchange(state->pendingContinuation, continuation);
                    }
                }
                if (older) {
                    older->resume();
                }
            });
            if (AnyTask::isCancelled()) {
                return std::nullopt;
            }
            return Element{};
        },
        [state] { state->tick(); });
}

} // namespace velmor
