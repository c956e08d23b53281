#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <span>

namespace sweepkit::pipeline {

// The 16 bytes of an MD5 digest, held inline: groups are keyed by it, and a search keeps one for
// each file it digested.
struct Digest {
    std::array<std::uint8_t, 16> bytes{};

    std::span<std::uint8_t> span() { return bytes; }
    friend bool operator==(const Digest&, const Digest&) = default;
};

} // namespace sweepkit::pipeline

// A digest's bytes are as good as random already: its first eight are its hash.
template <> struct std::hash<sweepkit::pipeline::Digest> {
    std::size_t operator()(const sweepkit::pipeline::Digest& digest) const noexcept {
        std::size_t value = 0;
        std::memcpy(&value, digest.bytes.data(), sizeof value);
        return value;
    }
};
