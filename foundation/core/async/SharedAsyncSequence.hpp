#pragma once

#include "platform/concurrency/Actor.hpp"
#include "platform/concurrency/AsyncSequence.hpp"
#include "platform/concurrency/AsyncStream.hpp"
#include "platform/concurrency/Task.hpp"
#include "platform/uuid/UUID.hpp"

#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace velmor {

namespace detail {

// Owns the one iteration of an upstream and hands every element to the consumers subscribed at
// that moment, each through an unbounded stream of its own. Its state is touched only on its actor.
//
// Lifetime: the sequence values hold the manager, and so does every consumer whose stream has not
// ended (through the termination handler of the continuation that the manager keeps). The task
// that iterates the upstream holds it only weakly; the manager's end cancels that task, which
// stops when the upstream reacts to cancellation or, at the latest, at the next element.
template <AsyncSequence Base>
class SubSequenceManager : public std::enable_shared_from_this<SubSequenceManager<Base>> {
public:
    using Element = AsyncSequenceElement<Base>;
    using Stream = AsyncThrowingStream<Element>;
    using Continuation = typename Stream::Continuation;

    // A new manager whose upstream iteration starts at once, consumers or not.
    static std::shared_ptr<SubSequenceManager> create(Base base) {
        std::shared_ptr<SubSequenceManager> manager(new SubSequenceManager(std::move(base)));
        manager->startIfNeeded();
        return manager;
    }

    ~SubSequenceManager() {
        if (subscriptionTask_) {
            subscriptionTask_->cancel();
        }
    }
    SubSequenceManager(const SubSequenceManager&) = delete;
    SubSequenceManager& operator=(const SubSequenceManager&) = delete;

    // Subscribes a new consumer before it returns, so that it misses nothing produced from then on.
    typename Stream::AsyncIterator makeAsyncIterator() {
        // Kept to the end: a stream finished while the actor is held drops its handler, and with it
        // perhaps the last other reference, right there.
        auto self = this->shared_from_this();
        std::string id = UUID::random().uuidString();
        auto [stream, continuation] = Stream::makeStream();
        continuation.onTermination([manager = self, id](StreamTermination) { manager->removeContinuation(id); });
        addContinuation(continuation, id);
        return stream.makeAsyncIterator();
    }

private:
    explicit SubSequenceManager(Base base) : actor_("velmor.SubSequenceManager"), base_(std::move(base)) {}

    void startIfNeeded() {
        actor_.run([&] {
            if (subscriptionTask_) {
                return;
            }
            subscriptionTask_ = Task<void>::start(
                [manager = this->weak_from_this(), base = base_]() mutable { iterate(manager, base); });
        });
    }

    static void iterate(const std::weak_ptr<SubSequenceManager>& weakManager, Base& base) {
        auto iterator = base.makeAsyncIterator();
        for (;;) {
            std::exception_ptr error;
            auto element = detail::nextCatching(iterator, error);
            if (!element) {
                if (auto manager = weakManager.lock()) {
                    manager->end(error);
                }
                return;
            }
            auto manager = weakManager.lock();
            if (!manager) {
                return;
            }
            manager->deliver(std::move(*element));
        }
    }

    // The last value and the copy of the consumers are taken in one visit: a consumer added in
    // between would otherwise get the element twice, replayed and then delivered.
    void deliver(Element element) {
        auto consumers = actor_.run([&] {
            lastValue_.reset();
            lastValue_.emplace(element);
            return continuations_;
        });
        for (const auto& [id, continuation] : consumers) {
            continuation.yield(element);
        }
    }

    // Records the end, so that a consumer that comes later is ended too, and ends every consumer.
    void end(std::exception_ptr error) {
        auto consumers = actor_.run([&] {
            end_ = error;
            return continuations_;
        });
        for (const auto& [id, continuation] : consumers) {
            finish(continuation, error);
        }
    }

    static void finish(const Continuation& continuation, const std::exception_ptr& error) {
        if (error) {
            continuation.finish(error);
        } else {
            continuation.finish();
        }
    }

    // A new consumer first gets the latest element again; after the upstream's end it gets that
    // end too, and is not kept.
    void addContinuation(const Continuation& continuation, const std::string& id) {
        actor_.run([&] {
            if (lastValue_) {
                continuation.yield(*lastValue_);
            }
            if (end_) {
                finish(continuation, *end_);
                return;
            }
            continuations_.insert_or_assign(id, continuation);
        });
    }

    void removeContinuation(const std::string& id) {
        actor_.run([&] { continuations_.erase(id); });
    }

    Actor actor_;
    Base base_;
    std::map<std::string, Continuation> continuations_;
    std::optional<Task<void>> subscriptionTask_;
    std::optional<Element> lastValue_;
    // Set once the upstream has ended: nothing for a plain end, else its error.
    std::optional<std::exception_ptr> end_;
};

} // namespace detail

// Lets many consumers read one upstream sequence at once while the upstream is read only once, from
// the moment the value is made. Each `makeAsyncIterator()` subscribes one more consumer: it gets
// every element produced from then on, starting with the most recent one produced before, then the
// upstream's end or error, also when it comes after the upstream has ended. Every consumer buffers
// without limit, so a slow one holds up nobody. Copies of a value share the one upstream iteration,
// which stops once every copy and every consumer is gone.
template <AsyncSequence Base> class SharedAsyncSequence {
public:
    using Element = AsyncSequenceElement<Base>;

    explicit SharedAsyncSequence(Base base)
        : base_(base), manager_(detail::SubSequenceManager<Base>::create(std::move(base))) {}

    typename AsyncThrowingStream<Element>::AsyncIterator makeAsyncIterator() const {
        return manager_->makeAsyncIterator();
    }

private:
    Base base_;
    std::shared_ptr<detail::SubSequenceManager<Base>> manager_;
};

// `SharedAsyncSequence` over `base`: each call starts an upstream iteration of its own.
template <AsyncSequence Base> SharedAsyncSequence<Base> shared(Base base) {
    return SharedAsyncSequence<Base>(std::move(base));
}

} // namespace velmor
