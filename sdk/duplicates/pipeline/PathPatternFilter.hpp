#pragma once

#include "sdk/duplicates/pipeline/Filter.hpp"

#include <string>
#include <vector>

namespace sweepkit::pipeline {

// Turns away paths that contain one of `patterns` as it is written (letter case counts). An empty
// pattern matches nothing, as in the path criterion of searches.
struct PathPatternFilter : Filter {
    std::vector<std::string> patterns;

    PathPatternFilter() = default;
    explicit PathPatternFilter(std::vector<std::string> patterns) : patterns(std::move(patterns)) {}

    bool isFiltered(const Event& event) const override;
};

} // namespace sweepkit::pipeline
