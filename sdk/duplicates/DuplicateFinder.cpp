#include "sdk/duplicates/DuplicateFinder.hpp"

#include "foundation/core/log/OSLogLogger.hpp"
#include "foundation/core/progress/ProgressWrapper.hpp"
#include "sdk/filesystem/FileSystemIterator.hpp"

#include <cerrno>
#include <filesystem>
#include <sys/stat.h>
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

// A root is what the caller names: a link given as a root is walked as the folder it leads to (the
// walk follows the root alone), and a root that cannot be walked is an error under its own path,
// never a walk that finds nothing. Links below the root are reported as links.
class RootWalk : public BaseFilesIterator {
public:
    explicit RootWalk(const velmor::URL& root, std::uint32_t user, std::vector<std::uint32_t> groups)
        : walk_(root, Options{Options::physical, Options::crossDevice, Options::commandLineFollow}, user,
                std::move(groups)) {}

    std::optional<Event> next() override {
        std::optional<Event> event = walk_.next();
        if (atRoot_ && event) {
            atRoot_ = false;
            if (event->kind() == Event::Kind::brokenSymlink) {
                replaced_ = true;
                return unwalkable(event->path());
            }
        }
        replaced_ = false;
        return event;
    }
    void skip() override { walk_.skip(); }
    bool lastRecordIsCurrent() const override { return !replaced_ && walk_.lastRecordIsCurrent(); }

private:
    // The root is a link whose target cannot be reached: the failure is what following it gives now.
    static Event unwalkable(const std::string& path) {
        struct ::stat target {};
        const int failure = ::stat(path.c_str(), &target) != 0 ? errno : ENOENT;
        return Event::error(path, velmor::Error::posixForPath(failure, path));
    }

    FileSystemIterator walk_;
    bool atRoot_ = true;
    bool replaced_ = false;
};

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
            iterators.push_back(std::make_unique<RootWalk>(standardisedRoot(url), user, groups));
        }
        const DuplicateFinderAnalyser analyser{settings, velmor::ProgressWrapper::make(progress),
                                               progressHandler, completionHandler,
                                               std::make_shared<velmor::OSLogLogger>(queueLabel)};
        analyser.analyse(std::move(iterators));
    });
    return progress;
}

} // namespace sweepkit
