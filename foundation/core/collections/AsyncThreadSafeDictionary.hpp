#pragma once

#include "platform/concurrency/Actor.hpp"

#include <cstddef>
#include <functional>
#include <optional>
#include <type_traits>
#include <unordered_map>
#include <utility>

namespace velmor {

// A key-value table that tasks share through an actor: every operation runs on the actor, one at
// a time, and every read hands out a copy. A sequence of operations is not atomic as a whole;
// `update` and `valueOrInsert` are for read-then-write steps. The closures run on the actor and
// must not wait for other work.
template <typename Key, typename Value, typename Hash = std::hash<Key>> class AsyncThreadSafeDictionary {
public:
    using Dictionary = std::unordered_map<Key, Value, Hash>;

    AsyncThreadSafeDictionary() : actor_("velmor.AsyncThreadSafeDictionary") {}

    Dictionary dictionary() const {
        return actor_.run([&] { return dictionary_; });
    }
    std::size_t count() const {
        return actor_.run([&] { return dictionary_.size(); });
    }

    // Calls `body` with a copy of the table and returns its result; its error goes on unchanged.
    template <typename Body> std::invoke_result_t<Body, Dictionary&> read(Body&& body) const {
        return actor_.run([&]() -> std::invoke_result_t<Body, Dictionary&> {
            Dictionary copy = dictionary_;
            return std::forward<Body>(body)(copy);
        });
    }

    // Calls `body` with the table itself; what it changed stays, also when it then throws.
    template <typename Body> std::invoke_result_t<Body, Dictionary&> update(Body&& body) {
        return actor_.run([&]() -> std::invoke_result_t<Body, Dictionary&> {
            return std::forward<Body>(body)(dictionary_);
        });
    }

    // The stored value, or nothing.
    std::optional<Value> value(const Key& key) const {
        return actor_.run([&]() -> std::optional<Value> {
            auto found = dictionary_.find(key);
            if (found == dictionary_.end()) {
                return std::nullopt;
            }
            return found->second;
        });
    }

    // Stores `value` under `key`; nothing removes the key.
    void setValue(const Key& key, std::optional<Value> value) {
        actor_.run([&] { store(key, std::move(value)); });
    }

    // Changes the value under `key` in place: `body` gets the stored value or nothing, and what it
    // leaves is stored (nothing removes the key).
    template <typename Body> void modifyValue(const Key& key, Body&& body) {
        actor_.run([&] {
            std::optional<Value> current;
            if (auto found = dictionary_.find(key); found != dictionary_.end()) {
                current = std::move(found->second);
            }
            try {
                std::forward<Body>(body)(current);
            } catch (...) {
                store(key, std::move(current));
                throw;
            }
            store(key, std::move(current));
        });
    }

    // The stored value; when `key` is absent, `makeDefault()` without storing it.
    template <typename MakeDefault> Value value(const Key& key, MakeDefault&& makeDefault) const {
        return actor_.run([&]() -> Value {
            auto found = dictionary_.find(key);
            if (found != dictionary_.end()) {
                return found->second;
            }
            return std::forward<MakeDefault>(makeDefault)();
        });
    }

    // The stored value; when `key` is absent, `makeValue()` is called once and its value stored.
    template <typename MakeValue> Value valueOrInsert(const Key& key, MakeValue&& makeValue) {
        return actor_.run([&]() -> Value {
            auto found = dictionary_.find(key);
            if (found == dictionary_.end()) {
                found = dictionary_.emplace(key, std::forward<MakeValue>(makeValue)()).first;
            }
            return found->second;
        });
    }

private:
    void store(const Key& key, std::optional<Value> value) {
        if (value) {
            dictionary_.insert_or_assign(key, std::move(*value));
        } else {
            dictionary_.erase(key);
        }
    }

    Actor actor_;
    Dictionary dictionary_;
};

} // namespace velmor
