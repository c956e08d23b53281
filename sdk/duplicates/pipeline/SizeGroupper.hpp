#pragma once

#include "sdk/duplicates/pipeline/Lookahead.hpp"
#include "sdk/filesystem/Event.hpp"

#include <cstdint>
#include <optional>

namespace sweepkit::pipeline {

// Groups by size in bytes. Empty entries, and events without a status record, belong to no group.
struct SizeGroupper {
    using IdentifierType = std::int64_t;

    std::optional<IdentifierType> identifier(const Event& event) const {
        const velmor::Stat* stat = event.stat();
        if (stat == nullptr || stat->st_size <= 0) {
            return std::nullopt;
        }
        return stat->st_size;
    }
    std::optional<IdentifierType> anticipatedIdentifier(const Event& event, Lookahead&) const {
        return identifier(event);
    }
};

} // namespace sweepkit::pipeline
