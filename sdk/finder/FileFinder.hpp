#pragma once

#include "platform/error/Error.hpp"
#include "platform/progress/Progress.hpp"
#include "sdk/finder/AnalysisResult.hpp"
#include "sdk/finder/FileFinderAnalyzer.hpp"
#include "sdk/finder/FileFinderEngine.hpp"
#include "sdk/finder/SweepKitLogger.hpp"

#include <functional>
#include <memory>
#include <vector>

namespace sweepkit {

// Errors of the finder itself, in case order. The finder names this type `FileFinder::Error`.
enum class FileFinderError { noEngineSpecified, invalidRequest };

// The search entry point: asks its engines in order until one answers, and hands back that
// engine's result. An engine that fails gives way to the next; only the last one's failure fails
// the search. Per-path failures never fail it: they come with the result.
struct FileFinder {
    using AnalysisResult = sweepkit::AnalysisResult;
    using Engine = FileFinderEngine;
    using Error = FileFinderError;
    using FoundItemCallback = FileFinderAnalyzer::FoundItemCallback;
    using ProcessedItemCallback = FileFinderAnalyzer::ProcessedItemCallback;
    using Completion = std::function<void(AnalysisResult)>;

    AnyFileMatchingCriterion criterion;
    std::vector<Engine> engines;
    std::shared_ptr<const SweepKitLogger> logger;

    // Runs in the calling task, whose cancellation the engines see and report in the result. Throws
    // `noEngineSpecified` when there is no engine, else the last engine's own error when every
    // engine failed.
    AnalysisResult find(const std::vector<velmor::URL>& urls, const FoundItemCallback& foundItemCallback,
                        const ProcessedItemCallback& processedItemCallback) const;

    // The same search on a task of its own. The returned progress counts the judged entries, and
    // cancelling it cancels the search. `completion` runs on that task with the result, or, when
    // the search failed, with a result holding only the error (at the path "").
    std::shared_ptr<velmor::Progress> startSearch(std::vector<velmor::URL> urls,
                                                  FoundItemCallback foundItemCallback,
                                                  Completion completion) const;
};

} // namespace sweepkit

template <> struct velmor::ErrorDomain<sweepkit::FileFinderError> {
    static constexpr const char* value = "SweepKit.FileFinder.Error";
};
