#pragma once

#include <cstddef>
#include <iterator>
#include <memory>

namespace velmor {

// Walks a copy of a shared collection taken under its lock in one step, so that changes made by
// other threads meanwhile neither show up half-way nor invalidate the walk. The copy lives as long
// as any iterator over it; the end is `std::default_sentinel`, where a default-made iterator
// already is.
template <typename Container> class SnapshotIterator {
public:
    using value_type = typename Container::value_type;
    using difference_type = std::ptrdiff_t;
    using reference = const value_type&;
    using pointer = const value_type*;
    using iterator_category = std::input_iterator_tag;

    SnapshotIterator() = default;
    explicit SnapshotIterator(Container snapshot)
        : snapshot_(std::make_shared<const Container>(std::move(snapshot))), current_(snapshot_->begin()) {}

    reference operator*() const { return *current_; }
    pointer operator->() const { return std::addressof(*current_); }
    SnapshotIterator& operator++() {
        ++current_;
        return *this;
    }
    void operator++(int) { ++current_; }

    friend bool operator==(const SnapshotIterator& iterator, std::default_sentinel_t) {
        return !iterator.snapshot_ || iterator.current_ == iterator.snapshot_->end();
    }

private:
    std::shared_ptr<const Container> snapshot_;
    typename Container::const_iterator current_;
};

} // namespace velmor
