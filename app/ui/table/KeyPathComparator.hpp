#pragma once

#include <algorithm>
#include <chrono>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace marrowdale {

// A number whose order agrees with the key's, where a key has one: integers and dates are their
// own, a key with `sortPrefix()` gives that, other keys give 0. Equal numbers leave the order to
// the key itself.
template <typename Key> std::uint64_t sortPrefixOf(const Key& key) {
    if constexpr (std::is_integral_v<Key>) {
        // Flipping the sign bit orders signed values as unsigned ones.
        return static_cast<std::uint64_t>(key) ^ (std::is_signed_v<Key> ? std::uint64_t{1} << 63 : 0);
    } else if constexpr (requires { key.time_since_epoch().count(); }) {
        return sortPrefixOf(key.time_since_epoch().count());
    } else if constexpr (requires {
                             { key.sortPrefix() } -> std::convertible_to<std::uint64_t>;
                         }) {
        return key.sortPrefix();
    } else {
        return 0;
    }
}

enum class SortOrder { forward, reverse };

// Orders rows by one key read from their node, ascending (forward) or descending (reverse). A
// descending comparator swaps its arguments, so rows with equal keys keep their order both ways.
// Comparators with the same key path read the same key, whatever their order.
template <typename Node> class KeyPathComparator {
public:
    // The keys of a list of nodes, each read once, compared by position in that list.
    class Keys {
    public:
        virtual ~Keys() = default;
        virtual std::weak_ordering compare(std::size_t a, std::size_t b) const = 0;
        // The key's `sortPrefixOf` in this direction: a smaller one sorts first.
        virtual std::uint64_t prefix(std::size_t at) const = 0;
    };
    using NodeAt = std::function<Node&(std::size_t)>;

    // `read` gives a node's key; keys are compared with `<=>`.
    template <typename Read>
    static KeyPathComparator make(std::string keyPath, Read read, SortOrder order = SortOrder::forward) {
        using Key = std::decay_t<std::invoke_result_t<Read&, Node&>>;
        return KeyPathComparator(
            std::make_shared<const ReaderOf<Key, Read>>(std::move(keyPath), std::move(read)), order);
    }

    const std::string& keyPath() const { return reader_->keyPath; }
    SortOrder order() const { return order_; }
    KeyPathComparator withOrder(SortOrder order) const { return KeyPathComparator(reader_, order); }
    bool hasSameKeyPath(const KeyPathComparator& other) const { return keyPath() == other.keyPath(); }

    // Reads the key of each of the `count` nodes once: the order of one sort never sees a key change
    // halfway, and a key that costs a system call costs one per node, not one per comparison.
    std::unique_ptr<Keys> readKeys(std::size_t count, const NodeAt& nodeAt) const {
        return reader_->readKeys(count, nodeAt, order_ == SortOrder::reverse);
    }

    friend bool operator==(const KeyPathComparator& a, const KeyPathComparator& b) {
        return a.hasSameKeyPath(b) && a.order_ == b.order_;
    }

private:
    struct Reader {
        explicit Reader(std::string keyPath) : keyPath(std::move(keyPath)) {}
        virtual ~Reader() = default;
        virtual std::unique_ptr<Keys> readKeys(std::size_t count, const NodeAt& nodeAt,
                                               bool descending) const = 0;
        std::string keyPath;
    };

    template <typename Key> struct KeysOf final : Keys {
        std::vector<Key> keys;
        bool descending = false;
        std::weak_ordering compare(std::size_t a, std::size_t b) const override {
            return descending ? std::weak_ordering(keys[b] <=> keys[a])
                              : std::weak_ordering(keys[a] <=> keys[b]);
        }
        std::uint64_t prefix(std::size_t at) const override {
            const std::uint64_t bits = sortPrefixOf(keys[at]);
            return descending ? ~bits : bits;
        }
    };

    template <typename Key, typename Read> struct ReaderOf final : Reader {
        ReaderOf(std::string keyPath, Read read) : Reader(std::move(keyPath)), read(std::move(read)) {}
        std::unique_ptr<Keys> readKeys(std::size_t count, const NodeAt& nodeAt,
                                       bool descending) const override {
            auto keys = std::make_unique<KeysOf<Key>>();
            keys->descending = descending;
            keys->keys.reserve(count);
            for (std::size_t position = 0; position < count; ++position) {
                keys->keys.push_back(read(nodeAt(position)));
            }
            return keys;
        }
        Read read;
    };

    KeyPathComparator(std::shared_ptr<const Reader> reader, SortOrder order)
        : reader_(std::move(reader)), order_(order) {}

    std::shared_ptr<const Reader> reader_;
    SortOrder order_ = SortOrder::forward;
};

// The positions of `count` nodes in sorted order: by the first comparator, then the next on ties;
// nodes equal under every comparator (all of them, when there is none) keep their order.
template <typename Node>
std::vector<std::uint32_t> sortedPositions(std::size_t count,
                                           const typename KeyPathComparator<Node>::NodeAt& nodeAt,
                                           const std::vector<KeyPathComparator<Node>>& sortOrder) {
    std::vector<std::uint32_t> positions(count);
    for (std::size_t position = 0; position < count; ++position) {
        positions[position] = static_cast<std::uint32_t>(position);
    }
    if (count < 2 || sortOrder.empty()) {
        return positions;
    }
    std::vector<std::unique_ptr<typename KeyPathComparator<Node>::Keys>> keys;
    for (const auto& comparator : sortOrder) {
        keys.push_back(comparator.readKeys(count, nodeAt));
    }
    // Sorted as a packed array led by the first key's prefix, which alone decides most comparisons
    // of a million rows without reaching for their keys. Ties go to the position, so the result is
    // what a stable sort gives.
    struct Entry {
        std::uint64_t prefix;
        std::uint32_t position;
    };
    std::vector<Entry> entries(count);
    for (std::size_t position = 0; position < count; ++position) {
        entries[position] = {keys.front()->prefix(position), static_cast<std::uint32_t>(position)};
    }
    std::sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
        if (a.prefix != b.prefix) {
            return a.prefix < b.prefix;
        }
        for (const auto& key : keys) {
            if (auto order = key->compare(a.position, b.position); order != 0) {
                return order < 0;
            }
        }
        return a.position < b.position;
    });
    for (std::size_t at = 0; at < count; ++at) {
        positions[at] = entries[at].position;
    }
    return positions;
}

// What a click on a column's sort control does to the order: the column that already sorts first
// flips its direction, any other column sorts ascending; earlier comparators are dropped.
template <typename Node>
void applyHeaderSort(std::vector<KeyPathComparator<Node>>& sortOrder,
                     const KeyPathComparator<Node>& clicked) {
    if (!sortOrder.empty() && sortOrder.front().hasSameKeyPath(clicked)) {
        auto first = sortOrder.front();
        sortOrder = {
            first.withOrder(first.order() == SortOrder::forward ? SortOrder::reverse : SortOrder::forward)};
    } else {
        sortOrder = {clicked.withOrder(SortOrder::forward)};
    }
}

} // namespace marrowdale
