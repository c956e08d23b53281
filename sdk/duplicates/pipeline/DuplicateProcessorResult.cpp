#include "sdk/duplicates/pipeline/DuplicateProcessorResult.hpp"

namespace sweepkit::pipeline {

DuplicateProcessorResult DuplicateProcessorResult::duplicate(DuplicateGroup group, bool skipFolder) {
    DuplicateProcessorResult result(Kind::duplicate);
    result.group_ = std::move(group);
    result.skipFolder_ = skipFolder;
    return result;
}

DuplicateProcessorResult DuplicateProcessorResult::error(velmor::Error error) {
    DuplicateProcessorResult result(Kind::error);
    result.error_ = std::move(error);
    return result;
}

} // namespace sweepkit::pipeline
