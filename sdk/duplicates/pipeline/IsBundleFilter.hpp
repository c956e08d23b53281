#pragma once

#include "sdk/duplicates/pipeline/Filter.hpp"

namespace sweepkit::pipeline {

// Lets only bundles through: paths that end in ".app" or ".bundle", letter case counting.
struct IsBundleFilter : Filter {
    bool isFiltered(const Event& event) const override;
};

} // namespace sweepkit::pipeline
