#include "app/model/definitions/PathExpansion.hpp"

#include "platform/fs/UserDirectories.hpp"

#include "platform/concurrency/MainActor.hpp"

#include <unistd.h>

namespace marrowdale {

std::optional<velmor::URL> realHomeDirectory() {
    return velmor::passwordDatabaseHomeDirectory();
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
