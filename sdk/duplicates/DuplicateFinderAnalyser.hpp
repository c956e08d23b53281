#pragma once

#include "foundation/core/log/Logger.hpp"
#include "foundation/core/progress/ProgressHandler.hpp"
#include "sdk/duplicates/DuplicateFinderResult.hpp"
#include "sdk/duplicates/DuplicateFinderSettings.hpp"
#include "sdk/duplicates/pipeline/DuplicateProcessorPipelineNode.hpp"
#include "sdk/filesystem/BaseFilesIterator.hpp"

#include <functional>
#include <memory>
#include <vector>

namespace sweepkit {

using DuplicateFinderResultHandler = std::function<void(std::shared_ptr<DuplicateFinderResult>)>;

// One run of a duplicate search: builds the pipeline from the settings and feeds it every event of
// the walks, in order, on the calling thread. Only the digests that the files of a stretch of the
// walk are sure to need are made beforehand, side by side on the pool; the answers are those of
// feeding the events one at a time.
struct DuplicateFinderAnalyser {
    DuplicateFinderSettings settings;
    // Counts one unit per event, and says when to stop; the digests ask it too.
    std::shared_ptr<velmor::ProgressHandler> progress;
    // Gets each group as it grows, as a result of its own.
    DuplicateFinderResultHandler progressHandler;
    // Gets the final result, once.
    DuplicateFinderResultHandler completionHandler;
    std::shared_ptr<const velmor::Logger> logger;

    // One pipeline for all the walks of a run, so copies are found across roots.
    pipeline::AnyPipelineNode makePipeline() const;

    // Walks every iterator in turn until the end or a cancel, then post-processes the result and
    // hands it to `completionHandler`. The iterators are closed before that, so a run the completion
    // starts does not meet this one's walks. Nothing fails out of it.
    void analyse(std::vector<std::unique_ptr<BaseFilesIterator>> iterators) const;
};

} // namespace sweepkit
