#pragma once

#include "foundation/core/store/StoreCoding.hpp"

namespace velmor {

// Compact JSON text: data as base64, dates as seconds since the reference date.
class JSONEncoder final : public StoreEncoder {
public:
    std::vector<std::uint8_t> encodeValue(const coding::Value& value) const override;
};

} // namespace velmor
