#include "platform/uuid/UUID.hpp"

#include "platform/hashing/HashCombine.hpp"

#include <cstring>
#include <uuid/uuid.h>

namespace velmor {

static_assert(sizeof(uuid_t) == sizeof(UUID::Bytes));

UUID UUID::random() {
    uuid_t raw;
    ::uuid_generate_random(raw);
    Bytes bytes;
    std::memcpy(bytes.data(), raw, bytes.size());
    return UUID(bytes);
}

std::optional<UUID> UUID::fromString(std::string_view text) {
    // libuuid reads a terminated string and checks the length, the hyphens and the digits itself.
    constexpr std::size_t length = 36;
    if (text.size() != length) {
        return std::nullopt;
    }
    char terminated[length + 1];
    std::memcpy(terminated, text.data(), length);
    terminated[length] = '\0';
    uuid_t raw;
    if (::uuid_parse(terminated, raw) != 0) {
        return std::nullopt;
    }
    Bytes bytes;
    std::memcpy(bytes.data(), raw, bytes.size());
    return UUID(bytes);
}

std::string UUID::uuidString() const {
    char text[37];
    ::uuid_unparse_upper(bytes_.data(), text);
    return text;
}

} // namespace velmor

std::size_t std::hash<velmor::UUID>::operator()(const velmor::UUID& uuid) const noexcept {
    std::uint64_t high;
    std::uint64_t low;
    std::memcpy(&high, uuid.bytes().data(), sizeof high);
    std::memcpy(&low, uuid.bytes().data() + sizeof high, sizeof low);
    std::size_t seed = std::hash<std::uint64_t>{}(high);
    velmor::hashCombine(seed, std::hash<std::uint64_t>{}(low));
    return seed;
}
