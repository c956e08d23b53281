#pragma once

#include "sdk/finder/FileFinderAnalyzer.hpp"
#include "sdk/finder/SweepKitLogger.hpp"
#include "sdk/finder/tree/IteratorAnalysis.hpp"

#include <memory>

namespace sweepkit {

// The engine that walks the file system itself: every regular entry below each root is judged by
// the criterion, packages as one item each, and the matches come back as a forest of folders with
// the rounded sizes of what matched below them. Walk failures are collected per path; it never
// throws. Searches run one at a time on the shared tree engine; the callbacks run there too.
class TreeFileFinderAnalyzer : public FileFinderAnalyzer {
public:
    using FolderNode = sweepkit::FolderNode;
    using IteratorAnalysis = sweepkit::IteratorAnalysis;
    using UnexpectedDirectoryLeave = sweepkit::UnexpectedDirectoryLeave;

    explicit TreeFileFinderAnalyzer(std::shared_ptr<const SweepKitLogger> logger)
        : logger(std::move(logger)) {}

    AnalysisResult analyze(const std::vector<velmor::URL>& roots, const FileMatchingCriterion& criterion,
                           const FoundItemCallback& foundItemCallback,
                           const ProcessedItemCallback& processedItemCallback) const override;

    std::shared_ptr<const SweepKitLogger> logger;

private:
    AnalysisResult search(const std::vector<velmor::URL>& roots, const FileMatchingCriterion& criterion,
                          const FoundItemCallback& foundItemCallback,
                          const ProcessedItemCallback& processedItemCallback) const;
};

} // namespace sweepkit
