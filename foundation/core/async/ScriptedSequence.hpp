#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <variant>

namespace velmor::testing {

// An asynchronous sequence that a test drives: `next()` waits, deaf to cancellation, until the test
// has pushed an element, the end or an error. All its iterators read the one script. It counts
// requests and iterators, so that a test sees when it is asked for more and when it is let go.
template <typename T> class ScriptedSequence {
    struct End {};
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<std::variant<T, End, std::exception_ptr>> script;
        int nextCalls = 0;
        int iteratorsMade = 0;
        int iteratorsAlive = 0;
    };

public:
    struct Counts {
        int nextCalls;
        int iteratorsMade;
        int iteratorsAlive;
    };

    class AsyncIterator {
    public:
        std::optional<T> next() {
            std::unique_lock lock(state_->mutex);
            ++state_->nextCalls;
            state_->changed.notify_all();
            state_->changed.wait(lock, [&] { return !state_->script.empty(); });
            auto entry = std::move(state_->script.front());
            state_->script.pop_front();
            if (auto* element = std::get_if<T>(&entry)) {
                return std::move(*element);
            }
            if (auto* error = std::get_if<std::exception_ptr>(&entry)) {
                std::rethrow_exception(*error);
            }
            return std::nullopt;
        }

    private:
        friend class ScriptedSequence;
        explicit AsyncIterator(std::shared_ptr<State> state) : state_(state) {
            std::lock_guard lock(state->mutex);
            ++state->iteratorsMade;
            ++state->iteratorsAlive;
            // Shared by the iterator's copies: counts one iterator however often it is copied.
            alive_ = std::shared_ptr<void>(nullptr, [state](void*) {
                std::lock_guard lock(state->mutex);
                --state->iteratorsAlive;
                state->changed.notify_all();
            });
        }
        std::shared_ptr<State> state_;
        std::shared_ptr<void> alive_;
    };

    AsyncIterator makeAsyncIterator() const { return AsyncIterator(state_); }

    const ScriptedSequence& push(T element) const { return add(std::move(element)); }
    const ScriptedSequence& finish() const { return add(End{}); }
    const ScriptedSequence& fail(std::exception_ptr error) const { return add(std::move(error)); }

    Counts counts() const {
        std::lock_guard lock(state_->mutex);
        return {state_->nextCalls, state_->iteratorsMade, state_->iteratorsAlive};
    }
    // Waits until `done` holds for the counts; false after 30 s of real time, which only keeps a
    // broken test from hanging.
    bool waitUntil(const std::function<bool(const Counts&)>& done) const {
        std::unique_lock lock(state_->mutex);
        return state_->changed.wait_for(lock, std::chrono::seconds(30), [&] {
            return done({state_->nextCalls, state_->iteratorsMade, state_->iteratorsAlive});
        });
    }

private:
    const ScriptedSequence& add(std::variant<T, End, std::exception_ptr> entry) const {
        {
            std::lock_guard lock(state_->mutex);
            state_->script.push_back(std::move(entry));
        }
        state_->changed.notify_all();
        return *this;
    }

    std::shared_ptr<State> state_ = std::make_shared<State>();
};

} // namespace velmor::testing
