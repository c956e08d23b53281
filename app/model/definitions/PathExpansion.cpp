#include "app/model/definitions/PathExpansion.hpp"

#include "platform/concurrency/MainActor.hpp"

#include <pwd.h>
#include <unistd.h>

namespace marrowdale {

std::optional<velmor::URL> realHomeDirectory() {
    long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
    struct ::passwd entry {};
    struct ::passwd* found = nullptr;
    while (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE) {
        buffer.resize(buffer.size() * 2);
    }
    if (found == nullptr || found->pw_dir == nullptr) {
        return std::nullopt;
    }
    return velmor::URL::fileURL(found->pw_dir);
}

velmor::URL expandingTildeWithRealHome(const std::string& path) {
    auto home = realHomeDirectory();
    if (!home) {
        throw velmor::TypedError<HomeDirectoryError>(HomeDirectoryError::failedToGetHomeDirectory);
    }
    const std::string homePath = home->path();
    std::string expanded;
    expanded.reserve(path.size() + homePath.size());
    for (char c : path) {
        if (c == '~') {
            expanded += homePath;
        } else {
            expanded += c;
        }
    }
    return velmor::URL::fileURL(expanded);
}

bool isSearchPathError(const velmor::Error& error) {
    return error.domain() == searchPathErrorDomain;
}

std::vector<velmor::URL> findURLs(const FileFinderCategory& category) {
    velmor::MainActor::assertIsolated();
    std::vector<velmor::URL> urls;
    urls.reserve(category.paths.size());
    for (const auto& path : category.paths) {
        velmor::URL url = expandingTildeWithRealHome(path);
        if (url.isRelativeToWorkingDirectory()) {
            throw velmor::ErrorException(
                velmor::Error(searchPathErrorDomain, 0,
                              {{velmor::Error::localizedDescriptionKey,
                                "The search path “" + path + "” is not absolute, so it is not searched."}}));
        }
        urls.push_back(std::move(url));
    }
    return urls;
}

} // namespace marrowdale
