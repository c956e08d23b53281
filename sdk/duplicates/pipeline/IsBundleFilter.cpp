#include "sdk/duplicates/pipeline/IsBundleFilter.hpp"

namespace sweepkit::pipeline {

bool IsBundleFilter::isFiltered(const Event& event) const {
    const std::string& path = event.path();
    return !path.ends_with(".app") && !path.ends_with(".bundle");
}

} // namespace sweepkit::pipeline
