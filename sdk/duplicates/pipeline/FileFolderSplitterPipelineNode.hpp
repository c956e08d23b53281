#pragma once

#include "sdk/duplicates/pipeline/DuplicateProcessorPipelineNode.hpp"

#include <functional>

namespace sweepkit::pipeline {

// The root of the pipeline: files go down one chain, entered folders down the other, failures of
// the walk come back as errors, and every other event is no duplicate.
class FileFolderSplitterPipelineNode final : public DuplicateProcessorPipelineNode {
public:
    // Makes the file chain first, then the folder chain.
    FileFolderSplitterPipelineNode(const std::function<AnyPipelineNode()>& filePipeline,
                                   const std::function<AnyPipelineNode()>& folderPipeline);

    DuplicateProcessorResult process(const Event& event) override;
    // Only files lead to work worth doing beforehand.
    void anticipate(const Event& event, Lookahead& lookahead) override;

private:
    AnyPipelineNode filePipeline_;
    AnyPipelineNode folderPipeline_;
};

} // namespace sweepkit::pipeline
