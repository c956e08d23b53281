#pragma once

#include "platform/coding/Decoding.hpp"
#include "sdk/finder/records/ProcessingError.hpp"

#include <cstdint>
#include <vector>

namespace sweepkit {

// What a deletion run did: the allocated bytes it freed, the entries it could not remove, and
// whether it was cancelled before it was through.
struct CleaningResult {
    std::uint64_t reclaimedBytes = 0;
    std::vector<ProcessingError> errors;
    bool cancelled = false;
};

} // namespace sweepkit

template <> struct velmor::coding::Coding<sweepkit::CleaningResult> {
    static Value encode(const sweepkit::CleaningResult& result);
    static sweepkit::CleaningResult decode(const Decoder& decoder);
};
