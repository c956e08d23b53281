#include "sdk/finder/tree/TreeFileFinderAnalyzer.hpp"

#include "platform/concurrency/Task.hpp"
#include "sdk/filesystem/FileSystemIterator.hpp"
#include "sdk/finder/tree/TreeFileFinderEngine.hpp"

#include <unistd.h>

namespace sweepkit {

AnalysisResult TreeFileFinderAnalyzer::analyze(const std::vector<velmor::URL>& roots,
                                               const FileMatchingCriterion& criterion,
                                               const FoundItemCallback& foundItemCallback,
                                               const ProcessedItemCallback& processedItemCallback) const {
    return TreeFileFinderEngine::shared().run(
        [&] { return search(roots, criterion, foundItemCallback, processedItemCallback); });
}

AnalysisResult TreeFileFinderAnalyzer::search(const std::vector<velmor::URL>& roots,
                                              const FileMatchingCriterion& criterion,
                                              const FoundItemCallback& foundItemCallback,
                                              const ProcessedItemCallback& processedItemCallback) const {
    const std::uint32_t user = ::getuid();
    std::vector<std::uint32_t> groups;
    try {
        groups = currentUserGroups();
    } catch (const velmor::ComponentError&) {
        // Without the group list the group write bit simply never grants permission.
    }
    std::vector<std::unique_ptr<FileSystemIterator>> iterators;
    iterators.reserve(roots.size());
    for (const auto& root : roots) {
        iterators.push_back(std::make_unique<FileSystemIterator>(root, Options::physical, user, groups));
    }
    if (logger) {
        logger->debug([&criterion] {
            return "Starting filesystem traversal with criteria: " + criterion.description();
        });
    }

    AnalysisResult result;
    for (auto& iterator : iterators) {
        IteratorAnalysis analysis(*iterator, criterion, foundItemCallback, processedItemCallback);
        analysis.run();
        std::move(analysis.rootNodes.begin(), analysis.rootNodes.end(), std::back_inserter(result.nodes));
        std::move(analysis.errors.begin(), analysis.errors.end(), std::back_inserter(result.errors));
    }
    result.isLastResult = true;
    result.cancelled = velmor::AnyTask::isCancelled();
    return result;
}

} // namespace sweepkit
