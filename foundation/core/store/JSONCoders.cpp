#include "foundation/core/store/JSONDecoder.hpp"
#include "foundation/core/store/JSONEncoder.hpp"

#include "platform/coding/JSON.hpp"

namespace velmor {

std::vector<std::uint8_t> JSONEncoder::encodeValue(const coding::Value& value) const {
    const std::string text = coding::toJSON(value);
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

coding::Value JSONDecoder::decodeValue(std::span<const std::uint8_t> data) const {
    return coding::fromJSON(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}

} // namespace velmor
