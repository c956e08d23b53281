#include "platform/fs/ResolvedPath.hpp"

#include <climits>
#include <cstdlib>

namespace velmor {

std::string resolvingSymlinksOr(const std::string& path) {
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) ? std::string(buffer) : path;
}

} // namespace velmor
