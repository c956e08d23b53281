#pragma once

#include "platform/coding/Decoding.hpp"
#include "platform/uuid/UUID.hpp"

namespace velmor::coding {

// An identifier is stored as its text.
template <> struct Coding<UUID> {
    static Value encode(const UUID& uuid);
    static UUID decode(const Decoder& decoder);
};

} // namespace velmor::coding
