#include "sdk/duplicates/pipeline/PathPatternFilter.hpp"

namespace sweepkit::pipeline {

bool PathPatternFilter::isFiltered(const Event& event) const {
    const std::string& path = event.path();
    for (const auto& pattern : patterns) {
        if (!pattern.empty() && path.find(pattern) != std::string::npos) {
            return true;
        }
    }
    return false;
}

} // namespace sweepkit::pipeline
