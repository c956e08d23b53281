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

#include <algorithm>
#include <thread>

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

// Files taken together for one lookahead: enough to keep every thread busy, few enough that the
// events held meanwhile cost little. Other events count too, so a stretch of folders alone stays
// short.
constexpr std::size_t filesPerStretch = 512;
constexpr std::size_t eventsPerStretch = 4096;

// An event of the walk, with its answer once it has one.
struct Read {
    Event event;
    std::optional<DuplicateProcessorResult> answer;
};

// Works out beforehand, on the pool, the digests that answering the files of `stretch` in turn is
// sure to make. A digest known to be needed only once another is known is asked for in a later
// round, until no stage asks for more.
void anticipate(DuplicateProcessorPipelineNode& pipeline, const std::vector<Read>& stretch,
                Lookahead& lookahead) {
    const std::size_t width = std::max(1u, std::thread::hardware_concurrency());
    // Each round goes one level deeper; the file chain has three.
    for (int round = 0; round < 8; ++round) {
        for (const Read& read : stretch) {
            if (!read.answer) {
                pipeline.anticipate(read.event, lookahead);
            }
        }
        if (!lookahead.hasWork()) {
            return;
        }
        lookahead.fulfil(width);
    }
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

    // Records an answer, in walk order; the event was counted when it was read, and a folder's skip
    // acted on then.
    auto record = [&](const Event& event, const DuplicateProcessorResult& answer) {
        switch (answer.kind()) {
        case DuplicateProcessorResult::Kind::duplicate: {
            const DuplicateGroup& group = *answer.group();
            auto partial = std::make_shared<DuplicateFinderResult>();
            partial->duplicatesByHash.emplace(group.id, group);
            progressHandler(std::move(partial));
            result->duplicatesByHash.insert_or_assign(group.id, group);
            break;
        }
        case DuplicateProcessorResult::Kind::error:
            for (const velmor::Error& error : answer.errors()) {
                result->errors.push_back(processingError(error, event));
            }
            break;
        case DuplicateProcessorResult::Kind::notDuplicate:
        case DuplicateProcessorResult::Kind::skipFolder:
            break;
        }
        progress->incrementCompletedUnitCount();
    };

    // The walk is taken in stretches of many files. Every event but a file is answered as soon as
    // it is read: a folder's answer says whether the walk may go into it, and the pipeline keeps
    // the folders' state apart from the files', so answering a folder before the files listed
    // before it changes no answer. The files are answered at the end of the stretch, after the
    // digests they are sure to need were made side by side; then every answer is recorded in walk
    // order. A cancel is looked at before each event is read and before each file is answered.
    // A failure that leaves the walk (the pool or the pipeline out of memory, say) ends it: what was
    // recorded so far is delivered with the failure among the errors, under no path as it is the
    // run's and no entry's, so that the completion is called all the same.
    auto recordRunFailure = [&] {
        result->errors.push_back(ProcessingError{velmor::errorFromException(std::current_exception()), ""});
    };
    try {
        std::vector<Read> stretch;
        for (const auto& iterator : iterators) {
            bool ended = false;
            while (!ended && !progress->isCancelled()) {
                stretch.clear();
                std::size_t files = 0;
                while (files < filesPerStretch && stretch.size() < eventsPerStretch &&
                       !progress->isCancelled()) {
                    std::optional<Event> event = iterator->next();
                    if (!event) {
                        ended = true;
                        break;
                    }
                    progress->incrementTotalUnitCount();
                    if (event->kind() == Event::Kind::file) {
                        ++files;
                        stretch.push_back(Read{std::move(*event), std::nullopt});
                        continue;
                    }
                    DuplicateProcessorResult answer = pipeline->process(*event);
                    if (answer.skipsFolder()) {
                        skipQuietly(*iterator);
                    }
                    stretch.push_back(Read{std::move(*event), std::move(answer)});
                }
                std::optional<Lookahead> lookahead;
                if (files > 1) {
                    lookahead.emplace();
                    anticipate(*pipeline, stretch, *lookahead);
                }
                for (Read& read : stretch) {
                    if (!read.answer) {
                        // After a cancel the files left are not answered; what was answered already,
                        // a failure of the walk say, is still recorded.
                        if (progress->isCancelled()) {
                            continue;
                        }
                        read.answer = pipeline->process(read.event);
                    }
                    record(read.event, *read.answer);
                }
            }
            if (progress->isCancelled()) {
                break;
            }
        }
    } catch (...) {
        recordRunFailure();
    }
    iterators.clear();

    try {
        postProcess(*result);
    } catch (...) {
        recordRunFailure();
    }
    result->isLastResult = true;
    progress->completed();
    result->cancelled = progress->isCancelled();
    completionHandler(std::move(result));
}

} // namespace sweepkit
