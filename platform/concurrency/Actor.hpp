#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

namespace velmor {

class Actor;

namespace detail {

// For the life of the scope, gives up the reentrant actors that the calling thread holds, so that
// the work it waits for may enter them; takes them back at the end, in the order they were taken.
class HeldActorsRelease {
public:
    HeldActorsRelease();
    ~HeldActorsRelease();
    HeldActorsRelease(const HeldActorsRelease&) = delete;
    HeldActorsRelease& operator=(const HeldActorsRelease&) = delete;

private:
    std::vector<std::pair<const Actor*, unsigned>> released_;
};

} // namespace detail

// A serial executor for the state of one object: operations entered with `run` go one at a time.
// An operation runs on its caller's thread, so it stays inside the caller's task and sees its
// cancellation.
//
// A reentrant actor (the default) lets others in while an operation waits: in `suspend` and
// `sleep`, and while it waits on a task (`Task::value`, `AnyTask::wait`), on a group's children
// (`TaskGroup::next`, `waitForAll`), on a continuation or on the main thread (`MainActor::run`).
// State may therefore change across such a wait. Other waits (a lock, a latch, a queue) keep the
// actor held. A non-reentrant actor stays held through every wait and serves whole operations:
// an operation that waits for work entering the same actor never ends.
class Actor {
public:
    enum class Reentrancy { reentrant, nonReentrant };

    explicit Actor(std::string label = "velmor.actor", Reentrancy reentrancy = Reentrancy::reentrant)
        : label_(std::move(label)), reentrancy_(reentrancy) {}
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
    // Whether the calling thread holds any actor at all.
    static bool isHoldingAny();
    // Stops the process when the calling thread does not hold the actor.
    void assertIsolated() const;

private:
    friend class detail::HeldActorsRelease;
    class Hold;
    // Takes the actor for the calling thread; false when it held it already.
    bool acquire(unsigned depth = 1) const;
    // Gives the actor up entirely; returns how deep the calling thread held it.
    unsigned relinquish() const;
    void leave() const;

    std::string label_;
    Reentrancy reentrancy_;
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
