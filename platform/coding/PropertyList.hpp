#pragma once

#include "platform/coding/Value.hpp"

#include <string_view>

namespace velmor::coding {

// The value tree of a property list, XML or binary. Text that is neither is a `dataCorrupted`
// `DecodingError`.
//
// Binary property-list integers arrive as 64-bit words; values above the signed range are read as
// the negative numbers they encode, which is how negative integers are stored there. XML integers are
// read from their text (see `fromXMLPropertyList`).
Value fromPropertyList(std::string_view bytes);

// The binary property-list form of `value`. Null values have no property-list form: they are an
// `EncodingError`, as are dates past the form's range.
std::string toBinaryPropertyList(const Value& value);
// The XML property-list form of `value`, under the same rules.
std::string toXMLPropertyList(const Value& value);

} // namespace velmor::coding
