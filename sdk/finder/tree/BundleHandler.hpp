#pragma once

#include "platform/fs/Stat.hpp"
#include "platform/fs/URL.hpp"

#include <cstdint>
#include <optional>

namespace sweepkit {

// Remembers the package a walk is inside, so that its contents only add to its size and the
// package is judged once, as one item, when the walk leaves it.
class BundleHandler {
public:
    struct BundleInfo {
        velmor::URL url;
        velmor::Stat stat;
        bool hasDeletePermission = false;
    };

    std::optional<BundleInfo> currentBundle;

    // When `directoryURL` is the current package: gives it back with `size` as its st_size and
    // forgets it. Otherwise gives nothing and changes nothing.
    std::optional<BundleInfo> finishBundle(const velmor::URL& directoryURL, std::int64_t size);
};

} // namespace sweepkit
