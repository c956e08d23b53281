#include "sdk/finder/tree/BundleHandler.hpp"

#include "platform/fs/Package.hpp"

#include <sys/stat.h>

namespace sweepkit {

bool BundleHandler::isPackage(const velmor::URL& url, const velmor::Stat& stat) {
    return S_ISDIR(stat.st_mode) && velmor::hasPackageExtension(url.lastPathComponent());
}

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
