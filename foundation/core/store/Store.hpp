#pragma once

#include "foundation/core/store/StoreCoding.hpp"
#include "foundation/core/store/StoreKey.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmor {

// Named blobs of bytes kept between runs, with typed access through `StoreKey`s and the store's own
// encoder and decoder. Every operation may throw; the typed ones pass on the encoder's, decoder's and
// store's errors unchanged. Classes that override `clear(name)` should say `using Store::clear;` so
// that the typed `clear` stays visible.
class Store {
public:
    virtual ~Store() = default;

    virtual const StoreEncoder& encoder() const = 0;
    virtual const StoreDecoder& decoder() const = 0;
    // The blob stored under `name`, or nothing.
    virtual std::optional<std::vector<std::uint8_t>> data(const std::string& name) const = 0;
    // Stores `data` under `name`, replacing what was there.
    virtual void set(const std::vector<std::uint8_t>& data, const std::string& name) = 0;
    // Removes what is stored under `name`; nothing stored there is no error.
    virtual void clear(const std::string& name) = 0;

    template <typename T> std::optional<T> fetch(const StoreKey<T>& key) const {
        auto blob = data(key.name);
        if (!blob) {
            return std::nullopt;
        }
        return decoder().template decode<T>(*blob);
    }

    // An encoding error writes nothing.
    template <typename T> void store(const T& value, const StoreKey<T>& key) {
        auto blob = encoder().encode(value);
        set(blob, key.name);
    }

    template <typename T> void clear(const StoreKey<T>& key) { clear(key.name); }
};

} // namespace velmor
