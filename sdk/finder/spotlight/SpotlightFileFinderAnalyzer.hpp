#pragma once

#include "sdk/finder/FileFinderAnalyzer.hpp"
#include "sdk/finder/SpotlightFileFinderAnalyzerError.hpp"
#include "sdk/finder/SweepKitLogger.hpp"

#include <memory>

namespace sweepkit {

class SpotlightEngine;

// The engine that asks the metadata index instead of walking: one query over all roots, whose
// items are filtered for deletability and arranged under their roots. It throws whenever the index
// cannot serve (a root not indexed, a criterion without an index form, no answer in time), so that
// the finder falls back on the next engine. It never calls the callbacks.
class SpotlightFileFinderAnalyzer : public FileFinderAnalyzer {
public:
    using Error = SpotlightFileFinderAnalyzerError;

    // `engine` is the shared one unless a test brings its own.
    explicit SpotlightFileFinderAnalyzer(std::shared_ptr<const SweepKitLogger> logger,
                                         const SpotlightEngine* engine = nullptr)
        : logger(std::move(logger)), engine_(engine) {}

    AnalysisResult analyze(const std::vector<velmor::URL>& roots, const FileMatchingCriterion& criterion,
                           const FoundItemCallback& foundItemCallback,
                           const ProcessedItemCallback& processedItemCallback) const override;

    std::shared_ptr<const SweepKitLogger> logger;

private:
    const SpotlightEngine* engine_;
};

} // namespace sweepkit
