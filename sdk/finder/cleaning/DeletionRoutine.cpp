#include "sdk/finder/cleaning/DeletionRoutine.hpp"

#include "platform/fs/DirectoryListing.hpp"
#include "platform/fs/FileRemover.hpp"
#include "platform/fs/URL.hpp"

#include <algorithm>

namespace sweepkit {

using velmor::Error;
using velmor::URL;

namespace {

bool isAlreadyGone(const Error& error) {
    auto underlying = error.underlyingError();
    return error.domain() == Error::cocoaDomain && error.code() == velmor::FileRemover::noSuchFileCode &&
           underlying && underlying->domain() == Error::posixDomain && underlying->code() == ENOENT;
}

// Whether `path` lies strictly below `root`, comparing whole path components: /r/ab does not hold
// /r/abc.
bool isStrictlyBelow(const std::string& path, const std::string& root) {
    return path != root && velmor::isPathWithin(path, root);
}

} // namespace

void Cleaner::DeletedSizeAccumulator::didRemove(const std::string&, const velmor::Stat& stat) {
    // The allocated size: what the file system gives back.
    reclaimedBytes_ += static_cast<std::uint64_t>(std::max<std::int64_t>(stat.st_blocks, 0)) * 512;
}

CleaningResult Cleaner::removeItems(const std::vector<URL>& entries, const std::vector<URL>& roots,
                                    bool removeEmptiedFolders, velmor::Progress& progress) {
    DeletedSizeAccumulator accumulator;
    const velmor::FileRemover remover([&accumulator](const std::string& path, const velmor::Stat& stat) {
        accumulator.didRemove(path, stat);
    });
    CleaningResult result;

    std::vector<std::string> paths;
    paths.reserve(entries.size());
    for (const auto& entry : entries) {
        paths.push_back(entry.path());
    }
    if (removeEmptiedFolders) {
        // Deepest first: a path comes before every path that is a prefix of it.
        std::sort(paths.begin(), paths.end(), std::greater<>());
    }

    for (const auto& path : paths) {
        if (progress.isCancelled()) {
            break;
        }
        if (auto error = remover.removeItem(path); error && !isAlreadyGone(*error)) {
            result.errors.push_back(ProcessingError{*error, path});
        }
        progress.setCompletedUnitCount(progress.completedUnitCount() + 1);
    }

    if (removeEmptiedFolders && !progress.isCancelled()) {
        std::vector<std::string> rootPaths;
        for (const auto& root : roots) {
            rootPaths.push_back(root.path());
        }
        auto isInsideSomeRoot = [&](const std::string& folder) {
            bool isRoot = std::find(rootPaths.begin(), rootPaths.end(), folder) != rootPaths.end();
            return !isRoot && std::any_of(rootPaths.begin(), rootPaths.end(), [&](const std::string& root) {
                return isStrictlyBelow(folder, root);
            });
        };
        for (const auto& path : paths) {
            if (progress.isCancelled()) {
                break;
            }
            for (URL folder = URL::fileURL(path).deletingLastPathComponent(); isInsideSomeRoot(folder.path());
                 folder = folder.deletingLastPathComponent()) {
                if (progress.isCancelled()) {
                    break;
                }
                auto visible = velmor::containsVisibleEntry(folder);
                if (!visible && errno == ENOENT) {
                    continue; // already removed for an earlier entry: look further up
                }
                if (!visible || *visible) {
                    break; // shows an entry, or cannot be listed: it stays, and so does all above it
                }
                // Only hidden entries (or nothing) are left: the folder goes with them.
                if (auto error = remover.removeItem(folder.path())) {
                    result.errors.push_back(ProcessingError{*error, folder.path()});
                }
            }
        }
    }

    result.reclaimedBytes = accumulator.reclaimedBytes();
    result.cancelled = progress.isCancelled();
    return result;
}

} // namespace sweepkit
