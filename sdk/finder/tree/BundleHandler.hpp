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

    // Whether the folder the walk entered is a package, from its name and the walk's own record:
    // no further system call, so any depth of path is judged alike.
    static bool isPackage(const velmor::URL& url, const velmor::Stat& stat);

    // When `directoryURL` is the current package: gives it back with `size` as its st_size and
    // forgets it. Otherwise gives nothing and changes nothing.
    std::optional<BundleInfo> finishBundle(const velmor::URL& directoryURL, std::int64_t size);
};

} // namespace sweepkit
