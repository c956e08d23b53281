#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmor {

// A 128-bit universally unique identifier. Its text is the 8-4-4-4-12 hexadecimal form in upper case,
// as the platform writes identifiers; either case is read back.
class UUID {
public:
    using Bytes = std::array<std::uint8_t, 16>;

    // The all-zero identifier. Use `random()` for a fresh one.
    UUID() = default;
    explicit UUID(const Bytes& bytes) : bytes_(bytes) {}

    // A new random (version 4) identifier.
    static UUID random();
    // Nothing unless `text` is exactly the 8-4-4-4-12 form.
    static std::optional<UUID> fromString(std::string_view text);

    const Bytes& bytes() const { return bytes_; }
    std::string uuidString() const;

    friend bool operator==(const UUID&, const UUID&) = default;
    friend auto operator<=>(const UUID&, const UUID&) = default;

private:
    Bytes bytes_{};
};

} // namespace velmor

template <> struct std::hash<velmor::UUID> {
    std::size_t operator()(const velmor::UUID& uuid) const noexcept;
};
