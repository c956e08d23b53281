#include "platform/fs/UserDirectories.hpp"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace velmor {

namespace {

std::optional<URL> absoluteFolder(const char* path) {
    if (path == nullptr || path[0] != '/') {
        return std::nullopt;
    }
    return URL::fileURL(path);
}

std::optional<URL> xdgFolder(const char* variable, const char* homeRelative) {
    if (auto configured = absoluteFolder(::secure_getenv(variable))) {
        return configured;
    }
    if (auto home = homeDirectory()) {
        return home->appendingPathComponent(homeRelative);
    }
    return std::nullopt;
}

} // namespace

std::optional<URL> homeDirectory() {
    if (auto home = absoluteFolder(::secure_getenv("HOME"))) {
        return home;
    }
    return passwordDatabaseHomeDirectory();
}

std::optional<URL> passwordDatabaseHomeDirectory() {
    long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
    struct ::passwd entry {};
    struct ::passwd* found = nullptr;
    while (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE) {
        buffer.resize(buffer.size() * 2);
    }
    return found ? absoluteFolder(found->pw_dir) : std::nullopt;
}

std::optional<URL> userCachesDirectory() {
    return xdgFolder("XDG_CACHE_HOME", ".cache");
}

std::optional<URL> userConfigurationDirectory() {
    return xdgFolder("XDG_CONFIG_HOME", ".config");
}

URL temporaryDirectory() {
    return absoluteFolder(::secure_getenv("TMPDIR")).value_or(URL::fileURL("/tmp"));
}

} // namespace velmor
