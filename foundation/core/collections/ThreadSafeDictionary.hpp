#pragma once

#include "foundation/core/collections/CollectionDescription.hpp"
#include "foundation/core/collections/Guarded.hpp"
#include "foundation/core/collections/SnapshotIterator.hpp"

#include <cstddef>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <utility>

namespace velmor {

// A key-value table that threads share, guarded by one lock. Each operation is atomic on its own;
// a read followed by a write is not, and belongs in `update` or `valueOrInsert`. There are no live
// positions, since another thread's insertion may rehash the table under them: iterating walks a
// snapshot. Closures run under the lock must not use the same table: the lock is not recursive.
template <typename Key, typename Value, typename Hash = std::hash<Key>> class ThreadSafeDictionary {
public:
    using Dictionary = std::unordered_map<Key, Value, Hash>;
    using iterator = SnapshotIterator<Dictionary>;

    // Calls `body` with the table, which it cannot change, and returns its result.
    template <typename Body> std::invoke_result_t<Body, const Dictionary&> read(Body&& body) const {
        return dictionary_.read(std::forward<Body>(body));
    }
    // Calls `body` with the table in place and returns its result; what it changed before throwing
    // stays.
    template <typename Body> std::invoke_result_t<Body, Dictionary&> update(Body&& body) {
        return dictionary_.update(std::forward<Body>(body));
    }

    std::size_t count() const {
        return read([](const Dictionary& dictionary) { return dictionary.size(); });
    }

    // The stored value, or nothing.
    std::optional<Value> value(const Key& key) const {
        return read([&](const Dictionary& dictionary) -> std::optional<Value> {
            if (auto found = dictionary.find(key); found != dictionary.end()) {
                return found->second;
            }
            return std::nullopt;
        });
    }
    // Stores `value` under `key`; nothing removes the key.
    void setValue(const Key& key, std::optional<Value> value) {
        std::optional<Value> replaced; // destroyed after the lock is released
        update([&](Dictionary& dictionary) {
            auto found = dictionary.find(key);
            if (found != dictionary.end()) {
                replaced = std::move(found->second);
                dictionary.erase(found);
            }
            if (value) {
                dictionary.emplace(key, std::move(*value));
            }
        });
    }

    // The stored value; when `key` is absent, `makeDefault()`, which is not stored.
    template <typename MakeDefault> Value value(const Key& key, MakeDefault&& makeDefault) const {
        return read([&](const Dictionary& dictionary) -> Value {
            if (auto found = dictionary.find(key); found != dictionary.end()) {
                return found->second;
            }
            return std::invoke(std::forward<MakeDefault>(makeDefault));
        });
    }
    // The stored value; when `key` is absent, `makeValue()` is called once and its value stored.
    // The check and the insertion are one step.
    template <typename MakeValue> Value valueOrInsert(const Key& key, MakeValue&& makeValue) {
        return update([&](Dictionary& dictionary) -> Value {
            auto found = dictionary.find(key);
            if (found == dictionary.end()) {
                found = dictionary.emplace(key, std::invoke(std::forward<MakeValue>(makeValue))).first;
            }
            return found->second;
        });
    }

    iterator begin() const { return iterator(dictionary_.snapshot()); }
    std::default_sentinel_t end() const { return std::default_sentinel; }

    std::string debugDescription() const requires collectionDescription::Describable<Key> &&
        collectionDescription::Describable<Value> {
        return read(
            [](const Dictionary& dictionary) { return collectionDescription::describeEntries(dictionary); });
    }

private:
    Guarded<Dictionary> dictionary_{"ThreadSafeDictionary"};
};

} // namespace velmor
