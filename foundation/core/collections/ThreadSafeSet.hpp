#pragma once

#include "foundation/core/collections/CollectionDescription.hpp"
#include "foundation/core/collections/Guarded.hpp"
#include "foundation/core/collections/SnapshotIterator.hpp"

#include <cstddef>
#include <functional>
#include <iterator>
#include <optional>
#include <shared_mutex>
#include <string>
#include <type_traits>
#include <unordered_set>
#include <utility>

namespace velmor {

// A set that threads share. Reads run side by side; an update runs alone, waiting for the reads
// under way and holding back later ones. Every operation is synchronous. Iterating walks a
// snapshot. Closures run under the lock must not use the same set: the lock is not recursive.
template <typename Element, typename Hash = std::hash<Element>> class ThreadSafeSet {
public:
    using Set = std::unordered_set<Element, Hash>;
    using iterator = SnapshotIterator<Set>;

    struct InsertResult {
        bool inserted;
        // The element now in the set: the new one, or the equal one that was already there.
        Element memberAfterInsert;
    };

    // Calls `body` with the set, which it cannot change, alongside other reads.
    template <typename Body> std::invoke_result_t<Body, const Set&> read(Body&& body) const {
        return set_.read(std::forward<Body>(body));
    }
    // Calls `body` with the set in place, alone, and returns its result.
    template <typename Body> std::invoke_result_t<Body, Set&> update(Body&& body) {
        return set_.update(std::forward<Body>(body));
    }

    std::size_t count() const {
        return read([](const Set& set) { return set.size(); });
    }
    // Some element of the set (the first in its own order), or nothing when it is empty.
    std::optional<Element> first() const {
        return read([](const Set& set) -> std::optional<Element> {
            if (set.empty()) {
                return std::nullopt;
            }
            return *set.begin();
        });
    }
    bool contains(const Element& element) const {
        return read([&](const Set& set) { return set.contains(element); });
    }

    InsertResult insert(Element element) {
        return update([&](Set& set) {
            auto [position, inserted] = set.insert(std::move(element));
            return InsertResult{inserted, *position};
        });
    }
    // Adds every element of `elements`.
    template <typename Elements> void union_(const Elements& elements) {
        update([&](Set& set) { set.insert(std::begin(elements), std::end(elements)); });
    }

    iterator begin() const { return iterator(set_.snapshot()); }
    std::default_sentinel_t end() const { return std::default_sentinel; }

    std::string debugDescription() const requires collectionDescription::Describable<Element> {
        return read([](const Set& set) { return collectionDescription::describeElements(set); });
    }

private:
    Guarded<Set, std::shared_mutex> set_{"ThreadSafeSet"};
};

} // namespace velmor
