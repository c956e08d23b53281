#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>

namespace velmor {

// A serial executor for the state of one object: operations entered with `run` go one at a time.
// An operation runs on its caller's thread, so it stays inside the caller's task and sees its
// cancellation. Held from start to end, the actor serves whole operations; an operation that
// calls `suspend` or `sleep` lets others in while it waits (a reentrant actor).
class Actor {
public:
    explicit Actor(std::string label = "velmor.actor") : label_(std::move(label)) {}
    Actor(const Actor&) = delete;
    Actor& operator=(const Actor&) = delete;

    const std::string& label() const { return label_; }

    // Runs `operation` holding the actor and returns its result; an error goes on to the caller
    // after the actor is released. A thread that already holds the actor runs it at once.
    template <typename F> std::invoke_result_t<F> run(F&& operation) const;

    // Inside an operation: releases the actor while `wait` runs and takes it back afterwards.
    template <typename F> std::invoke_result_t<F> suspend(F&& wait) const;
    // Inside an operation: a cancellable sleep with the actor released.
    void sleep(double seconds) const;

    // Whether the calling thread holds the actor.
    bool isIsolated() const;
    // Stops the process when the calling thread does not hold the actor.
    void assertIsolated() const;

private:
    class Hold;
    // Takes the actor for the calling thread; false when it held it already.
    bool acquire(unsigned depth = 1) const;
    // Gives the actor up entirely; returns how deep the calling thread held it.
    unsigned relinquish() const;
    void leave() const;

    std::string label_;
    mutable std::mutex mutex_;
    mutable std::condition_variable free_;
    mutable std::thread::id owner_;
    mutable unsigned depth_ = 0;
};

class Actor::Hold {
public:
    explicit Hold(const Actor& actor) : actor_(actor) { actor_.acquire(); }
    ~Hold() { actor_.leave(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    const Actor& actor_;
};

template <typename F> std::invoke_result_t<F> Actor::run(F&& operation) const {
    Hold hold(*this);
    return std::forward<F>(operation)();
}

template <typename F> std::invoke_result_t<F> Actor::suspend(F&& wait) const {
    assertIsolated();
    struct Retake {
        const Actor& actor;
        unsigned depth;
        ~Retake() { actor.acquire(depth); }
    } retake{*this, relinquish()};
    return std::forward<F>(wait)();
}

} // namespace velmor
