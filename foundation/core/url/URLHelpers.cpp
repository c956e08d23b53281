#include "foundation/core/url/URLHelpers.hpp"

#include "platform/fs/Package.hpp"
#include "platform/fs/Volume.hpp"

#include <sys/stat.h>

namespace velmor {

bool exists(const URL& url) {
    struct ::stat record {};
    return !url.isEmpty() && ::stat(url.path().c_str(), &record) == 0;
}

bool isVolume(const URL& url) {
    return !url.isEmpty() && Volume::isVolume(url);
}

URL userFacingUrl(const URL& url) {
    const std::string& path = url.rawPath();
    if (path.empty()) {
        return url;
    }
    // From the top down, so the first package met is the outermost; the root itself is never one.
    URL current = URL::fileURL("/");
    std::size_t start = 0;
    while (start < path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        if (end > start) {
            current = current.appendingPathComponent(std::string_view(path).substr(start, end - start));
            if (isPackage(current)) {
                return current;
            }
        }
        start = end + 1;
    }
    return current;
}

} // namespace velmor
