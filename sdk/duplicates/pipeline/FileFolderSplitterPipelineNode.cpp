#include "sdk/duplicates/pipeline/FileFolderSplitterPipelineNode.hpp"

namespace sweepkit::pipeline {

FileFolderSplitterPipelineNode::FileFolderSplitterPipelineNode(
    const std::function<AnyPipelineNode()>& filePipeline,
    const std::function<AnyPipelineNode()>& folderPipeline)
    : filePipeline_(filePipeline()), folderPipeline_(folderPipeline()) {}

DuplicateProcessorResult FileFolderSplitterPipelineNode::process(const Event& event) {
    switch (event.kind()) {
    case Event::Kind::enterDirectory:
        return folderPipeline_->process(event);
    case Event::Kind::file:
        return filePipeline_->process(event);
    case Event::Kind::unreadableDirectory:
    case Event::Kind::fileError:
    case Event::Kind::error:
        return DuplicateProcessorResult::error(*event.error());
    case Event::Kind::cycle:
    case Event::Kind::unknownType:
    case Event::Kind::dotFile:
    case Event::Kind::leaveDirectory:
    case Event::Kind::fileWithNoStat:
    case Event::Kind::symlink:
    case Event::Kind::brokenSymlink:
        break;
    }
    return DuplicateProcessorResult::notDuplicate();
}

void FileFolderSplitterPipelineNode::anticipate(const Event& event, Lookahead& lookahead) {
    if (event.kind() == Event::Kind::file) {
        filePipeline_->anticipate(event, lookahead);
    }
}

} // namespace sweepkit::pipeline
