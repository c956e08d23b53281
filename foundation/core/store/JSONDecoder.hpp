#pragma once

#include "foundation/core/store/StoreCoding.hpp"

namespace velmor {

// Reads the JSON text that `JSONEncoder` writes.
class JSONDecoder final : public StoreDecoder {
public:
    coding::Value decodeValue(std::span<const std::uint8_t> data) const override;
};

} // namespace velmor
