#include "platform/uuid/UUIDCoding.hpp"

namespace velmor::coding {

Value Coding<UUID>::encode(const UUID& uuid) {
    return uuid.uuidString();
}

UUID Coding<UUID>::decode(const Decoder& decoder) {
    auto uuid = UUID::fromString(decoder.as<std::string>());
    if (!uuid) {
        decoder.dataCorrupted("Attempted to decode UUID from invalid UUID string.");
    }
    return *uuid;
}

} // namespace velmor::coding
