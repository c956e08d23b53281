#pragma once

#include "platform/fs/URL.hpp"

#include <string_view>

namespace sweepkit {

// Views into a URL's path for criteria that run on every entry of a walk and should not copy it.
// They give the same text as `URL::path()` and `URL::lastPathComponent()`.
inline std::string_view pathView(const velmor::URL& url) {
    std::string_view path = url.rawPath();
    if (url.hasDirectoryPath()) {
        path.remove_suffix(1);
    }
    return path;
}

inline std::string_view lastPathComponentView(const velmor::URL& url) {
    std::string_view path = pathView(url);
    if (path == "/" || path.empty()) {
        return path;
    }
    auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

} // namespace sweepkit
