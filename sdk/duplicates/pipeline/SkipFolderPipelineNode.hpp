#pragma once

#include "sdk/duplicates/pipeline/DuplicateProcessorPipelineNode.hpp"

namespace sweepkit::pipeline {

// Makes every answer of its chain tell the walk not to descend: a folder that gets here is never
// entered, whether it joined a group or not. Errors of the chain are dropped.
class SkipFolderPipelineNode final : public DuplicateProcessorPipelineNode {
public:
    explicit SkipFolderPipelineNode(AnyPipelineNode nextPipeline) : nextPipeline_(std::move(nextPipeline)) {}

    DuplicateProcessorResult process(const Event& event) override;

private:
    AnyPipelineNode nextPipeline_;
};

} // namespace sweepkit::pipeline
