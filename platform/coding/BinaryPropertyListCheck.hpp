#pragma once

#include <string_view>

namespace velmor::coding {

// Checks the structure of a binary property list ("bplist00") without recursing, before it reaches
// a parser that recurses and that a deep or looping document would run off the stack: the trailer
// and the offset table lie within the bytes, every object offset and reference is in range, no
// array or dictionary contains itself, they nest at most `maximumNestingDepth` deep, and shared
// objects do not spell out a tree much larger than the document, in values or in the bytes of
// strings and data copied out at each reference, and the tree holds at most a fixed count of values.
// Anything else is a `dataCorrupted` `DecodingError`, for nesting the one with `nestedTooDeeply()`.
void checkBinaryPropertyList(std::string_view bytes);

} // namespace velmor::coding
