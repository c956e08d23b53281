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

// Finds duplicate files, bundles and folders under root folders. Runs happen one after another on
// the finder's queue, where both callbacks are called; each run calls its completion exactly once,
// after all its partial results, even when the finder is gone by then.
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
    // the run, which still completes with what it found.
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
