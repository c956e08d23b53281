#pragma once

#include "foundation/core/collections/CollectionDescription.hpp"
#include "foundation/core/collections/Guarded.hpp"
#include "foundation/core/collections/SnapshotIterator.hpp"

#include <cstddef>
#include <functional>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace velmor {

// An array that threads share. Every operation takes the lock once, so each one is atomic on its
// own; a sequence of them is not, and belongs in `update`. Positions outside the array throw
// `std::out_of_range`. Iterating walks a snapshot. Closures run under the lock must not use the
// same array: the lock is not recursive.
template <typename Element> class ThreadSafeArray {
public:
    using Array = std::vector<Element>;
    using iterator = SnapshotIterator<Array>;

    // Calls `body` with the array, which it cannot change, and returns its result.
    template <typename Body> std::invoke_result_t<Body, const Array&> read(Body&& body) const {
        return array_.read(std::forward<Body>(body));
    }
    // Calls `body` with the array in place; what it changed before throwing stays.
    template <typename Body> void update(Body&& body) { array_.update(std::forward<Body>(body)); }

    std::size_t count() const {
        return read([](const Array& array) { return array.size(); });
    }
    std::size_t startIndex() const { return 0; }
    std::size_t endIndex() const { return count(); }
    std::size_t indexAfter(std::size_t index) const { return index + 1; }

    Element operator[](std::size_t index) const {
        return read([&](const Array& array) {
            checkPosition(index, array.size());
            return array[index];
        });
    }
    void set(std::size_t index, Element element) {
        update([&](Array& array) {
            checkPosition(index, array.size());
            array[index] = std::move(element);
        });
    }

    // The first element matching `predicate`, run with the lock held.
    template <typename Predicate> std::optional<Element> firstWhere(Predicate&& predicate) const {
        return read([&](const Array& array) -> std::optional<Element> {
            for (const auto& element : array) {
                if (std::invoke(predicate, element)) {
                    return element;
                }
            }
            return std::nullopt;
        });
    }

    void append(Element element) {
        update([&](Array& array) { array.push_back(std::move(element)); });
    }
    template <typename Elements> void appendContentsOf(const Elements& elements) {
        update([&](Array& array) { array.insert(array.end(), std::begin(elements), std::end(elements)); });
    }
    void insert(Element element, std::size_t at) {
        update([&](Array& array) {
            checkRange(at, at, array.size());
            array.insert(array.begin() + static_cast<std::ptrdiff_t>(at), std::move(element));
        });
    }
    // Replaces the elements in [lower, upper) with `elements`.
    template <typename Elements>
    void replaceSubrange(std::size_t lower, std::size_t upper, const Elements& elements) {
        update([&](Array& array) {
            checkRange(lower, upper, array.size());
            auto first = array.erase(array.begin() + static_cast<std::ptrdiff_t>(lower),
                                     array.begin() + static_cast<std::ptrdiff_t>(upper));
            array.insert(first, std::begin(elements), std::end(elements));
        });
    }

    Element removeAt(std::size_t index) {
        return array_.update([&](Array& array) { return take(array, index); });
    }
    Element removeFirst() {
        return array_.update([](Array& array) { return take(array, 0); });
    }
    Element removeLast() {
        return array_.update([](Array& array) { return take(array, array.empty() ? 0 : array.size() - 1); });
    }
    // Removes the elements in [lower, upper).
    void removeSubrange(std::size_t lower, std::size_t upper) { replaceSubrange(lower, upper, Array{}); }
    void removeAll() {
        Array removed; // its elements are destroyed after the lock is released
        update([&](Array& array) { removed.swap(array); });
    }

    iterator begin() const { return iterator(array_.snapshot()); }
    std::default_sentinel_t end() const { return std::default_sentinel; }

    std::string debugDescription() const requires collectionDescription::Describable<Element> {
        return read([](const Array& array) { return collectionDescription::describeElements(array); });
    }

private:
    static void checkPosition(std::size_t index, std::size_t count) {
        if (index >= count) {
            throw std::out_of_range("ThreadSafeArray: position " + std::to_string(index) +
                                    " is outside an array of " + std::to_string(count) + " elements");
        }
    }
    static void checkRange(std::size_t lower, std::size_t upper, std::size_t count) {
        if (lower > upper || upper > count) {
            throw std::out_of_range("ThreadSafeArray: range " + std::to_string(lower) + "..<" +
                                    std::to_string(upper) + " is outside an array of " +
                                    std::to_string(count) + " elements");
        }
    }
    static Element take(Array& array, std::size_t index) {
        checkPosition(index, array.size());
        Element element = std::move(array[index]);
        array.erase(array.begin() + static_cast<std::ptrdiff_t>(index));
        return element;
    }

    Guarded<Array> array_{"ThreadSafeArray"};
};

} // namespace velmor
