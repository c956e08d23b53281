#include "sdk/duplicates/pipeline/SkipFolderPipelineNode.hpp"

namespace sweepkit::pipeline {

DuplicateProcessorResult SkipFolderPipelineNode::process(const Event& event) {
    DuplicateProcessorResult result = nextPipeline_->process(event);
    if (const auto* group = result.group()) {
        return DuplicateProcessorResult::duplicate(*group, true);
    }
    return DuplicateProcessorResult::skipFolder();
}

} // namespace sweepkit::pipeline
