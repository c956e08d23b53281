#pragma once

#include "platform/coding/Decoding.hpp"

#include <cstdint>
#include <span>
#include <vector>

namespace velmor {

// Turns values into the blobs a `Store` keeps. Values travel through the value tree, so any type with
// a `coding::Coding` specialisation can be stored.
class StoreEncoder {
public:
    virtual ~StoreEncoder() = default;
    virtual std::vector<std::uint8_t> encodeValue(const coding::Value& value) const = 0;

    template <typename T> std::vector<std::uint8_t> encode(const T& value) const {
        return encodeValue(coding::encode(value));
    }
};

// Turns a `Store`'s blobs back into values; malformed blobs throw `coding::DecodingError`.
class StoreDecoder {
public:
    virtual ~StoreDecoder() = default;
    virtual coding::Value decodeValue(std::span<const std::uint8_t> data) const = 0;

    template <typename T> T decode(std::span<const std::uint8_t> data) const {
        coding::Value value = decodeValue(data);
        return coding::decode<T>(value);
    }
};

} // namespace velmor
