#include "sdk/finder/cleaning/DeletionRoutine.hpp"

#include "platform/fs/AnchoredFolder.hpp"
#include "platform/fs/FileRemover.hpp"
#include "platform/fs/URL.hpp"

#include <algorithm>
#include <limits>
#include <sys/stat.h>

namespace sweepkit {

using velmor::AnchoredFolder;
using velmor::Error;
using velmor::URL;

namespace {

bool isAlreadyGone(const Error& error) {
    auto underlying = error.underlyingError();
    return error.domain() == Error::cocoaDomain && error.code() == velmor::FileRemover::noSuchFileCode &&
           underlying && underlying->domain() == Error::posixDomain && underlying->code() == ENOENT;
}

// A path made relative to the working directory names whatever folder the process happens to be
// in: it is never removed, nor taken as a root.
bool isAbsolute(const URL& url) {
    return !url.isRelativeToWorkingDirectory() && url.path().starts_with('/');
}

// The deepest root strictly above `path`, if any.
const AnchoredFolder* rootHolding(const std::vector<AnchoredFolder>& roots, const std::string& path) {
    const AnchoredFolder* found = nullptr;
    for (const auto& root : roots) {
        if (root.holds(path) && (!found || root.path().size() > found->path().size())) {
            found = &root;
        }
    }
    return found;
}

std::string parentOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

} // namespace

void Cleaner::DeletedSizeAccumulator::didRemove(const std::string&, const velmor::Stat& stat) {
    // The allocated size: what the file system gives back. A file with another name left keeps its
    // blocks; the record is read just before the unlink, so the last name removed counts them.
    if (!S_ISDIR(stat.st_mode) && stat.st_nlink != 1) {
        return;
    }
    std::uint64_t bytes = 0;
    if (__builtin_mul_overflow(static_cast<std::uint64_t>(std::max<std::int64_t>(stat.st_blocks, 0)),
                               std::uint64_t{512}, &bytes) ||
        __builtin_add_overflow(reclaimedBytes_, bytes, &reclaimedBytes_)) {
        reclaimedBytes_ = std::numeric_limits<std::uint64_t>::max();
    }
}

CleaningResult Cleaner::removeItems(const std::vector<URL>& entries, const std::vector<URL>& roots,
                                    bool removeEmptiedFolders, velmor::Progress& progress) {
    std::vector<CleaningEntry> plain;
    plain.reserve(entries.size());
    for (const auto& url : entries) {
        plain.push_back(CleaningEntry{url, std::nullopt});
    }
    return removeItems(plain, roots, removeEmptiedFolders, progress);
}

CleaningResult Cleaner::removeItems(const std::vector<CleaningEntry>& entries, const std::vector<URL>& roots,
                                    bool removeEmptiedFolders, velmor::Progress& progress) {
    DeletedSizeAccumulator accumulator;
    const velmor::FileRemover remover([&accumulator](const std::string& path, const velmor::Stat& stat) {
        accumulator.didRemove(path, stat);
    });
    CleaningResult result;

    std::vector<AnchoredFolder> anchors;
    for (const auto& root : roots) {
        if (isAbsolute(root)) {
            anchors.emplace_back(root.path());
        }
    }

    std::vector<const CleaningEntry*> ordered;
    ordered.reserve(entries.size());
    for (const auto& entry : entries) {
        ordered.push_back(&entry);
    }
    if (removeEmptiedFolders) {
        // Deepest first: a path comes before every path that is a prefix of it.
        std::sort(ordered.begin(), ordered.end(), [](const CleaningEntry* a, const CleaningEntry* b) {
            return a->url.path() > b->url.path();
        });
    }

    for (const CleaningEntry* entry : ordered) {
        if (progress.isCancelled()) {
            break;
        }
        const std::string path = entry->url.path();
        std::optional<Error> error;
        if (!isAbsolute(entry->url)) {
            error = velmor::FileRemover::fileOperationError(EINVAL, path);
        } else if (const AnchoredFolder* root = rootHolding(anchors, path)) {
            error = remover.removeItem(*root, path, entry->expected);
        } else {
            error = remover.removeItem(path, entry->expected);
        }
        if (error && !isAlreadyGone(*error)) {
            result.errors.push_back(ProcessingError{*error, path});
        }
        progress.setCompletedUnitCount(progress.completedUnitCount() + 1);
    }

    if (removeEmptiedFolders && !progress.isCancelled()) {
        for (const CleaningEntry* entry : ordered) {
            if (progress.isCancelled()) {
                break;
            }
            const std::string path = entry->url.path();
            const AnchoredFolder* root = isAbsolute(entry->url) ? rootHolding(anchors, path) : nullptr;
            if (!root) {
                continue;
            }
            for (std::string folder = parentOf(path); root->holds(folder); folder = parentOf(folder)) {
                if (progress.isCancelled()) {
                    break;
                }
                auto step = remover.removeFolderIfOnlyHiddenFiles(*root, folder);
                if (step.error) {
                    result.errors.push_back(ProcessingError{*step.error, folder});
                }
                // A folder already removed for an earlier entry: look further up. One that stays
                // keeps everything above it.
                if (step.outcome == velmor::FileRemover::FolderOutcome::kept) {
                    break;
                }
            }
        }
    }

    result.reclaimedBytes = accumulator.reclaimedBytes();
    result.cancelled = progress.isCancelled();
    return result;
}

} // namespace sweepkit
