#include "sdk/duplicates/pipeline/DuplicateProcessorResult.hpp"

namespace sweepkit::pipeline {

DuplicateProcessorResult DuplicateProcessorResult::duplicate(DuplicateGroup group, bool skipFolder) {
    DuplicateProcessorResult result(Kind::duplicate);
    result.group_ = std::move(group);
    result.skipFolder_ = skipFolder;
    return result;
}

DuplicateProcessorResult DuplicateProcessorResult::error(velmor::Error error) {
    return DuplicateProcessorResult::error(std::vector{std::move(error)});
}

DuplicateProcessorResult DuplicateProcessorResult::error(std::vector<velmor::Error> errors) {
    DuplicateProcessorResult result(Kind::error);
    result.errors_ = std::move(errors);
    return result;
}

} // namespace sweepkit::pipeline
