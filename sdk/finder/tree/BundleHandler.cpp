#include "sdk/finder/tree/BundleHandler.hpp"

namespace sweepkit {

std::optional<BundleHandler::BundleInfo> BundleHandler::finishBundle(const velmor::URL& directoryURL,
                                                                     std::int64_t size) {
    if (!currentBundle || currentBundle->url != directoryURL) {
        return std::nullopt;
    }
    BundleInfo finished = std::move(*currentBundle);
    finished.stat.st_size = size;
    currentBundle.reset();
    return finished;
}

} // namespace sweepkit
