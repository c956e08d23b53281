#include "sdk/duplicates/pipeline/URLProperties.hpp"

#include "platform/fs/Volume.hpp"

#include <algorithm>
#include <array>
#include <string_view>

namespace sweepkit::pipeline {

bool isDirectory(const velmor::URL& url) {
    return velmor::Volume::isDirectory(url);
}

bool isSystemLocation(const velmor::URL& url) {
    static constexpr std::array<std::string_view, 8> systemFolders{
        "/System/Library/CoreServices",
        "/System/Library/Frameworks",
        "/System/Library/PrivateFrameworks",
        "/usr/libexec",
        "/System/Applications",
        "/usr/sbin",
        "/System/Volumes/Preboot/Cryptexes",
        "/Library/Apple/System/Library/PrivateFrameworks",
    };
    std::string path = url.path();
    return std::ranges::any_of(systemFolders,
                               [&](std::string_view folder) { return velmor::isPathWithin(path, folder); });
}

} // namespace sweepkit::pipeline
