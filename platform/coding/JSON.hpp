#pragma once

#include "platform/coding/Value.hpp"

#include <string>
#include <string_view>

namespace velmor::coding {

// JSON text of a value tree. Keys keep their order; data becomes base64 text and dates their seconds
// since the reference date. Text that is not valid UTF-8 cannot be written as JSON and is an
// `EncodingError`, never silently replaced.
std::string toJSON(const Value& value, bool prettyPrinted = false);

// The value tree of a JSON text; malformed text is a `dataCorrupted` `DecodingError`.
Value fromJSON(std::string_view text);

} // namespace velmor::coding
