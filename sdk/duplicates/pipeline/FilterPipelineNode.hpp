#pragma once

#include "sdk/duplicates/pipeline/DuplicateProcessorPipelineNode.hpp"
#include "sdk/duplicates/pipeline/Filter.hpp"

#include <functional>

namespace sweepkit::pipeline {

// Answers `resultIfFiltered` for the events its filter turns away, and hands the others on.
class FilterPipelineNode final : public DuplicateProcessorPipelineNode {
public:
    FilterPipelineNode(AnyFilter filter, DuplicateProcessorResult resultIfFiltered,
                       AnyPipelineNode nextPipelineNode);
    // The next node is made by calling `next` once.
    FilterPipelineNode(AnyFilter filter, DuplicateProcessorResult resultIfFiltered,
                       const std::function<AnyPipelineNode()>& next);

    DuplicateProcessorResult process(const Event& event) override;
    void anticipate(const Event& event, Lookahead& lookahead) override;

private:
    AnyPipelineNode nextPipelineNode_;
    DuplicateProcessorResult resultIfFiltered_;
    AnyFilter filter_;
};

} // namespace sweepkit::pipeline
