#pragma once

#include "platform/coding/Value.hpp"

#include <string_view>

namespace velmor::coding {

// The value tree of an XML property list. Integers must be whole decimal numbers within 64 bits
// and reals whole numbers in C notation; anything else, and nesting deeper than
// `maximumNestingDepth`, is a `dataCorrupted` `DecodingError` at the value's coding path.
Value fromXMLPropertyList(std::string_view bytes);

} // namespace velmor::coding
