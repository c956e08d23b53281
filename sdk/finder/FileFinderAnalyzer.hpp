#pragma once

#include "sdk/finder/AnalysisResult.hpp"
#include "sdk/finder/criteria/FileMatchingCriterion.hpp"

#include <functional>
#include <vector>

namespace sweepkit {

// A search engine: walks or queries the given roots for entries that match the criterion. It calls
// `foundItemCallback` with each match as it finds it and `processedItemCallback` once per entry it
// has judged. It runs on the calling thread and sees cancellation through the current task.
class FileFinderAnalyzer {
public:
    using FoundItemCallback = std::function<void(const FileSystemItem&)>;
    using ProcessedItemCallback = std::function<void()>;

    virtual ~FileFinderAnalyzer() = default;
    virtual AnalysisResult analyze(const std::vector<velmor::URL>& roots,
                                   const FileMatchingCriterion& criterion,
                                   const FoundItemCallback& foundItemCallback,
                                   const ProcessedItemCallback& processedItemCallback) const = 0;
};

} // namespace sweepkit
