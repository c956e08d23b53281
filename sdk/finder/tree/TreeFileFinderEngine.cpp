#include "sdk/finder/tree/TreeFileFinderEngine.hpp"

namespace sweepkit {

const TreeFileFinderEngine& TreeFileFinderEngine::shared() {
    static const TreeFileFinderEngine engine;
    return engine;
}

} // namespace sweepkit
