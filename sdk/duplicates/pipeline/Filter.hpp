#pragma once

#include "sdk/filesystem/Event.hpp"

#include <memory>

namespace sweepkit::pipeline {

// A rule that turns walk events away. Filters hold no state.
class Filter {
public:
    virtual ~Filter() = default;
    // True when the event is turned away.
    virtual bool isFiltered(const Event& event) const = 0;
};

using AnyFilter = std::shared_ptr<const Filter>;

} // namespace sweepkit::pipeline
