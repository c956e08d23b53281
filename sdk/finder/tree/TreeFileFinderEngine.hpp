#pragma once

#include "platform/concurrency/Actor.hpp"

#include <type_traits>
#include <utility>

namespace sweepkit {

// The executor every tree search runs on. It holds no state: a search holds it from start to end,
// so tree searches run one at a time and do not compete for the disk.
class TreeFileFinderEngine {
public:
    static const TreeFileFinderEngine& shared();

    template <typename F> std::invoke_result_t<F> run(F&& search) const {
        return actor_.run(std::forward<F>(search));
    }

private:
    TreeFileFinderEngine() = default;
    velmor::Actor actor_{"com.velmor.sweepkit.TreeFileFinderEngine", velmor::Actor::Reentrancy::nonReentrant};
};

} // namespace sweepkit
