#include "sdk/finder/cleaning/CleaningResult.hpp"

namespace velmor::coding {

Value Coding<sweepkit::CleaningResult>::encode(const sweepkit::CleaningResult& result) {
    return Object{{"reclaimedBytes", result.reclaimedBytes},
                  {"errors", coding::encode(result.errors)},
                  {"cancelled", result.cancelled}};
}

sweepkit::CleaningResult Coding<sweepkit::CleaningResult>::decode(const Decoder& decoder) {
    return sweepkit::CleaningResult{decoder.decode<std::uint64_t>("reclaimedBytes"),
                                    decoder.decode<std::vector<sweepkit::ProcessingError>>("errors"),
                                    decoder.decode<bool>("cancelled")};
}

} // namespace velmor::coding
