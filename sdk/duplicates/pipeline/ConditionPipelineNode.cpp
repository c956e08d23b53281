#include "sdk/duplicates/pipeline/ConditionPipelineNode.hpp"

#include "sdk/duplicates/pipeline/FilterPipelineNode.hpp"

namespace sweepkit::pipeline {

AnyPipelineNode ConditionPipelineNode::build(bool condition, AnyFilter filter,
                                             DuplicateProcessorResult resultIfFiltered,
                                             const std::function<AnyPipelineNode()>& next) {
    AnyPipelineNode nextNode = next();
    if (!condition) {
        return nextNode;
    }
    return std::make_shared<FilterPipelineNode>(std::move(filter), std::move(resultIfFiltered),
                                                std::move(nextNode));
}

} // namespace sweepkit::pipeline
