#include "sdk/finder/spotlight/SpotlightFileFinderAnalyzer.hpp"

#include "platform/concurrency/Task.hpp"
#include "sdk/finder/spotlight/SpotlightEngine.hpp"
#include "sdk/finder/spotlight/SpotlightResultHierarchy.hpp"

namespace sweepkit {

namespace {

const AnalysisResult& emptyResult() {
    static const AnalysisResult empty{{}, {}, false, false};
    return empty;
}

} // namespace

AnalysisResult SpotlightFileFinderAnalyzer::analyze(const std::vector<velmor::URL>& roots,
                                                    const FileMatchingCriterion& criterion,
                                                    const FoundItemCallback&,
                                                    const ProcessedItemCallback&) const {
    if (roots.empty()) {
        return emptyResult();
    }
    const SpotlightEngine& engine = engine_ != nullptr ? *engine_ : SpotlightEngine::shared();
    auto found = engine.runQuery(roots, criterion, logger);
    auto hierarchy = SpotlightResultHierarchy::build(found, criterion, roots);
    return AnalysisResult{std::move(hierarchy.nodes), std::move(hierarchy.errors), false,
                          velmor::AnyTask::isCancelled()};
}

} // namespace sweepkit
