#include "sdk/duplicates/DuplicateFinderAnalyser.hpp"

#include "sdk/duplicates/PostProcessing.hpp"
#include "sdk/duplicates/pipeline/BundleIdAndVersionGroupper.hpp"
#include "sdk/duplicates/pipeline/ConditionPipelineNode.hpp"
#include "sdk/duplicates/pipeline/DuplicateStorePipelineNode.hpp"
#include "sdk/duplicates/pipeline/FileFolderSplitterPipelineNode.hpp"
#include "sdk/duplicates/pipeline/FilterPipelineNode.hpp"
#include "sdk/duplicates/pipeline/GrouppingPipelineNode.hpp"
#include "sdk/duplicates/pipeline/HashGroupper.hpp"
#include "sdk/duplicates/pipeline/IsBundleFilter.hpp"
#include "sdk/duplicates/pipeline/PathPatternFilter.hpp"
#include "sdk/duplicates/pipeline/SizeGroupper.hpp"
#include "sdk/duplicates/pipeline/SkipFolderPipelineNode.hpp"
#include "sdk/duplicates/pipeline/SkipHiddenFilesystemItem.hpp"
#include "sdk/duplicates/pipeline/SystemFoldersFilter.hpp"

namespace sweepkit {

using namespace pipeline;

namespace {

using WholeFileNode = GrouppingPipelineNode<DuplicateStorePipelineNode, HashGroupper>;
using LeadingBytesNode = GrouppingPipelineNode<WholeFileNode, HashGroupper>;
using SizeNode = GrouppingPipelineNode<LeadingBytesNode, SizeGroupper>;
using BundleNode = GrouppingPipelineNode<DuplicateStorePipelineNode, BundleIdAndVersionGroupper>;

std::shared_ptr<DuplicateStorePipelineNode> makeStore(const Event& first) {
    return std::make_shared<DuplicateStorePipelineNode>(first);
}

// Size, then the leading 4000 bytes, then the whole file: each level reads only files that agree
// on every cheaper one.
AnyPipelineNode makeFileChain(const std::shared_ptr<const velmor::Logger>& logger,
                              const std::shared_ptr<const velmor::ProgressHandler>& probe) {
    const HashGroupper leading(4000, logger, probe);
    // Made from the leading computer so that a file of one chunk is not read a second time.
    const HashGroupper wholeFile = leading.readingUpTo(HashGroupper::wholeFile);
    return std::make_shared<SizeNode>(std::nullopt, SizeGroupper{}, [leading, wholeFile](const Event& first) {
        return std::make_shared<LeadingBytesNode>(first, leading, [wholeFile](const Event& opening) {
            return std::make_shared<WholeFileNode>(opening, wholeFile, makeStore);
        });
    });
}

// Records an `error` answer under the file that failed, which a grouping stage may have held since
// an earlier event.
ProcessingError processingError(const velmor::Error& error, const Event& event) {
    const std::string* path = error.stringValue(velmor::Error::filePathKey);
    return ProcessingError{error, path != nullptr ? *path : event.path()};
}

void skipQuietly(BaseFilesIterator& iterator) {
    try {
        iterator.skip();
    } catch (...) {
        // The folder is then walked like any other.
    }
}

} // namespace

AnyPipelineNode DuplicateFinderAnalyser::makePipeline() const {
    const auto hidden = std::make_shared<const SkipHiddenFilesystemItem>();
    auto files = [&] {
        return ConditionPipelineNode::build(settings.skipHiddenFiles, hidden,
                                            DuplicateProcessorResult::notDuplicate(),
                                            [&] { return makeFileChain(logger, progress); });
    };
    auto folders = [&] {
        return ConditionPipelineNode::build(
            settings.skipHiddenFolders, hidden, DuplicateProcessorResult::skipFolder(), [&] {
                return ConditionPipelineNode::build(
                    settings.skipSystemFolders, std::make_shared<const SystemFoldersFilter>(),
                    DuplicateProcessorResult::skipFolder(), [&]() -> AnyPipelineNode {
                        return std::make_shared<FilterPipelineNode>(
                            std::make_shared<const PathPatternFilter>(settings.patternsToSkip),
                            DuplicateProcessorResult::skipFolder(),
                            std::make_shared<FilterPipelineNode>(
                                std::make_shared<const IsBundleFilter>(),
                                DuplicateProcessorResult::notDuplicate(),
                                std::make_shared<SkipFolderPipelineNode>(std::make_shared<BundleNode>(
                                    std::nullopt, BundleIdAndVersionGroupper{}, makeStore))));
                    });
            });
    };
    return std::make_shared<FileFolderSplitterPipelineNode>(files, folders);
}

void DuplicateFinderAnalyser::analyse(std::vector<std::unique_ptr<BaseFilesIterator>> iterators) const {
    auto result = std::make_shared<DuplicateFinderResult>();
    const AnyPipelineNode pipeline = makePipeline();

    for (const auto& iterator : iterators) {
        // Looked at before each event, so a cancel ends the walk without reading another entry.
        while (!progress->isCancelled()) {
            std::optional<Event> event = iterator->next();
            if (!event) {
                break;
            }
            progress->incrementTotalUnitCount();
            const DuplicateProcessorResult answer = pipeline->process(*event);
            switch (answer.kind()) {
            case DuplicateProcessorResult::Kind::duplicate: {
                const DuplicateGroup& group = *answer.group();
                auto partial = std::make_shared<DuplicateFinderResult>();
                partial->duplicatesByHash.emplace(group.id, group);
                progressHandler(std::move(partial));
                result->duplicatesByHash.insert_or_assign(group.id, group);
                if (answer.skipsFolder()) {
                    skipQuietly(*iterator);
                }
                break;
            }
            case DuplicateProcessorResult::Kind::error:
                for (const velmor::Error& error : answer.errors()) {
                    result->errors.push_back(processingError(error, *event));
                }
                break;
            case DuplicateProcessorResult::Kind::notDuplicate:
                break;
            case DuplicateProcessorResult::Kind::skipFolder:
                skipQuietly(*iterator);
                break;
            }
            progress->incrementCompletedUnitCount();
        }
        if (progress->isCancelled()) {
            break;
        }
    }

    iterators.clear();

    postProcess(*result);
    result->isLastResult = true;
    progress->completed();
    result->cancelled = progress->isCancelled();
    completionHandler(std::move(result));
}

} // namespace sweepkit
