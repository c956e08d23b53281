#pragma once

#include "platform/dispatch/SerialQueue.hpp"
#include "platform/fs/URL.hpp"
#include "platform/progress/Progress.hpp"
#include "sdk/duplicates/DuplicateFinderAnalyser.hpp"
#include "sdk/duplicates/DuplicateFinderResult.hpp"
#include "sdk/duplicates/DuplicateFinderSettings.hpp"
#include "sdk/duplicates/DuplicateFolderFinder.hpp"

#include <memory>
#include <vector>

namespace sweepkit {

// Finds duplicate files, bundles and folders under root folders. What a group's members share:
// - files: the same size, the same HMAC-MD5 of the leading 4000 bytes and of the whole file;
// - bundles: the same identifier and version in their information dictionaries, and nothing more:
//   their contents are never compared, so deleting one may lose what only it holds;
// - folders: entry by entry the same names, each in one file group or folder group (never through a
//   bundle group), so that their contents are equal.
// Runs happen one after another on the finder's queue, where both callbacks are called; each run
// calls its completion exactly once, after all its partial results, even when the finder is gone by
// then.
class DuplicateFinder {
public:
    using Settings = DuplicateFinderSettings;
    using Result = DuplicateFinderResult;
    using DuplicateGroup = DuplicateFinderGroup;
    using DuplicateFinderAnalyser = sweepkit::DuplicateFinderAnalyser;
    using DuplicateFolderFinder = sweepkit::DuplicateFolderFinder;

    static constexpr const char* queueLabel = "com.velmor.DuplicateFinder";

    explicit DuplicateFinder(Settings settings);

    // `findInURLs` with the one root.
    std::shared_ptr<velmor::Progress> find(const velmor::URL& url,
                                           DuplicateFinderResultHandler progressHandler,
                                           DuplicateFinderResultHandler completionHandler) const;
    // Starts a run over the roots, in order, and returns its progress at once: cancelling it ends
    // the run, which still completes with what it found. A root's "." steps are dropped and its
    // ".." steps resolved by their text, so every spelling of a folder finds the same groups. A
    // root that is a link is walked as the folder it leads to (links below it are not followed);
    // a root that cannot be walked is an error under its path.
    std::shared_ptr<velmor::Progress> findInURLs(std::vector<velmor::URL> urls,
                                                 DuplicateFinderResultHandler progressHandler,
                                                 DuplicateFinderResultHandler completionHandler) const;

    const Settings& settings() const { return settings_; }
    const velmor::SerialQueue& queue() const { return queue_; }

private:
    velmor::SerialQueue queue_;
    Settings settings_;
};

} // namespace sweepkit
