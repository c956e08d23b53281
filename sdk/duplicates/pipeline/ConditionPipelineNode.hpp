#pragma once

#include "sdk/duplicates/pipeline/DuplicateProcessorPipelineNode.hpp"
#include "sdk/duplicates/pipeline/Filter.hpp"

#include <functional>

namespace sweepkit::pipeline {

// Puts a filter in front of a chain only when a setting asks for it.
struct ConditionPipelineNode {
    // A `FilterPipelineNode` over what `next` makes when `condition` holds, else what `next` makes.
    // `next` is called exactly once either way.
    static AnyPipelineNode build(bool condition, AnyFilter filter, DuplicateProcessorResult resultIfFiltered,
                                 const std::function<AnyPipelineNode()>& next);
};

} // namespace sweepkit::pipeline
