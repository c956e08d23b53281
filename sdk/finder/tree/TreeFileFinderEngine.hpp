#pragma once

#include "platform/concurrency/Actor.hpp"

#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

namespace sweepkit {

// The executor every tree search runs on. It holds no state: a search holds it from start to end,
// so tree searches run one at a time and do not compete for the disk.
//
// A search asked for by a thread other than the main one that holds no actor runs on the engine's
// own thread while the caller waits, inside the caller's task (it sees that task's cancellation).
// The records of every walk are then made by one thread, in the memory the walks before it gave
// back; made on whichever pool thread asked, each walk would draw fresh pages from the system. A
// search asked for on the main thread or by a thread that holds an actor (a callback may need
// either), one asked for from inside a search, and one for which no thread can be made run on the
// calling thread.
class TreeFileFinderEngine {
public:
    static const TreeFileFinderEngine& shared();

    template <typename F> std::invoke_result_t<F> run(F&& search) const {
        using Result = std::invoke_result_t<F>;
        if (isWalkThread()) {
            // From inside a search: the caller waiting for that search holds the engine for it.
            return std::forward<F>(search)();
        }
        if (!mayHandOff()) {
            return actor_.run(std::forward<F>(search));
        }
        return actor_.run([&]() -> Result {
            if constexpr (std::is_void_v<Result>) {
                if (!handOff([&] { search(); })) {
                    search();
                }
            } else {
                std::optional<Result> result;
                if (!handOff([&] { result.emplace(search()); })) {
                    return search();
                }
                return std::move(*result);
            }
        });
    }

private:
    TreeFileFinderEngine() = default;

    static bool isWalkThread();
    static bool mayHandOff();
    // Runs `work` on the engine's thread as part of the calling task and waits for it; what it
    // throws is thrown here. False, and `work` has not run, when that thread cannot be made.
    static bool handOff(const std::function<void()>& work);

    velmor::Actor actor_{"com.velmor.sweepkit.TreeFileFinderEngine", velmor::Actor::Reentrancy::nonReentrant};
};

} // namespace sweepkit
