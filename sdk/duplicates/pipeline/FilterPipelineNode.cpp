#include "sdk/duplicates/pipeline/FilterPipelineNode.hpp"

namespace sweepkit::pipeline {

FilterPipelineNode::FilterPipelineNode(AnyFilter filter, DuplicateProcessorResult resultIfFiltered,
                                       AnyPipelineNode nextPipelineNode)
    : nextPipelineNode_(std::move(nextPipelineNode)), resultIfFiltered_(std::move(resultIfFiltered)),
      filter_(std::move(filter)) {}

FilterPipelineNode::FilterPipelineNode(AnyFilter filter, DuplicateProcessorResult resultIfFiltered,
                                       const std::function<AnyPipelineNode()>& next)
    : FilterPipelineNode(std::move(filter), std::move(resultIfFiltered), next()) {}

DuplicateProcessorResult FilterPipelineNode::process(const Event& event) {
    if (filter_->isFiltered(event)) {
        return resultIfFiltered_;
    }
    return nextPipelineNode_->process(event);
}

void FilterPipelineNode::anticipate(const Event& event, Lookahead& lookahead) {
    if (!filter_->isFiltered(event)) {
        nextPipelineNode_->anticipate(event, lookahead);
    }
}

} // namespace sweepkit::pipeline
