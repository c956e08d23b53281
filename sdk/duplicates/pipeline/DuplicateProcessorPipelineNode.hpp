#pragma once

#include "sdk/duplicates/pipeline/DuplicateProcessorResult.hpp"
#include "sdk/duplicates/pipeline/Lookahead.hpp"
#include "sdk/filesystem/Event.hpp"

#include <memory>

namespace sweepkit::pipeline {

// One stage of the duplicate pipeline: it takes the walk's events one at a time, in walk order, on
// one thread, and answers each. Failures travel as `error` answers; a node never throws. Stages that
// group keep state between events, so a caller keeps one chain for a whole walk.
class DuplicateProcessorPipelineNode {
public:
    virtual ~DuplicateProcessorPipelineNode() = default;
    virtual DuplicateProcessorResult process(const Event& event) = 0;
    // Asks `lookahead` for the work that processing `event` next is sure to do, as far as that is
    // known now, so that it can be done beforehand. What a stage answers later is the same as if it
    // had not been asked. Stages that do no such work ask for nothing.
    virtual void anticipate(const Event&, Lookahead&) {}
};

// Nodes hold the nodes after them through this. Stateless stages may be shared freely; a stage with
// state is shared by whoever holds it.
using AnyPipelineNode = std::shared_ptr<DuplicateProcessorPipelineNode>;

} // namespace sweepkit::pipeline
