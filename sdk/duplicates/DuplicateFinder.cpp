#include "sdk/duplicates/DuplicateFinder.hpp"

#include "foundation/core/log/OSLogLogger.hpp"
#include "foundation/core/progress/ProgressWrapper.hpp"
#include "sdk/filesystem/FileSystemIterator.hpp"

#include <filesystem>
#include <unistd.h>

namespace sweepkit {

namespace {

// The root without "." steps and with ".." resolved by its text, so that the walk meets no name
// like "." that the filters could take for a hidden one. Links are not resolved: "l/.." is the
// folder holding l.
velmor::URL standardisedRoot(const velmor::URL& url) {
    if (url.isEmpty()) {
        return url;
    }
    std::string path = std::filesystem::path(url.path()).lexically_normal().string();
    if (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return velmor::URL::fileURL(path);
}

} // namespace

DuplicateFinder::DuplicateFinder(Settings settings) : queue_(queueLabel), settings_(std::move(settings)) {}

std::shared_ptr<velmor::Progress>
DuplicateFinder::find(const velmor::URL& url, DuplicateFinderResultHandler progressHandler,
                      DuplicateFinderResultHandler completionHandler) const {
    return findInURLs({url}, std::move(progressHandler), std::move(completionHandler));
}

std::shared_ptr<velmor::Progress>
DuplicateFinder::findInURLs(std::vector<velmor::URL> urls, DuplicateFinderResultHandler progressHandler,
                            DuplicateFinderResultHandler completionHandler) const {
    auto progress = std::make_shared<velmor::Progress>();
    const std::uint32_t user = ::getuid();
    std::vector<std::uint32_t> groups;
    try {
        groups = currentUserGroups();
    } catch (...) {
        // The walk then knows the user's own id only.
    }
    // The run holds copies of what it needs, not the finder: it outlives a finder destroyed early.
    queue_.async([urls = std::move(urls), user, groups = std::move(groups), settings = settings_, progress,
                  progressHandler = std::move(progressHandler),
                  completionHandler = std::move(completionHandler)] {
        std::vector<std::unique_ptr<BaseFilesIterator>> iterators;
        for (const velmor::URL& url : urls) {
            iterators.push_back(std::make_unique<FileSystemIterator>(
                standardisedRoot(url), Options{Options::physical, Options::crossDevice}, user, groups));
        }
        const DuplicateFinderAnalyser analyser{settings, velmor::ProgressWrapper::make(progress),
                                               progressHandler, completionHandler,
                                               std::make_shared<velmor::OSLogLogger>(queueLabel)};
        analyser.analyse(std::move(iterators));
    });
    return progress;
}

} // namespace sweepkit
