#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace sweepkit::pipeline {

// A list value whose successive versions share their elements. `appending` hands back a list one
// element longer without copying the ones before it: a group that grows to k members costs k element
// copies, not k²/2. Each list knows how many of the shared elements it shows, so an older list never
// sees what was appended after it, and it may be read on any thread while another list grows.
template <typename T> class AppendOnlyList {
public:
    class const_iterator;

    AppendOnlyList() = default;
    AppendOnlyList(std::initializer_list<T> elements) : AppendOnlyList(std::vector<T>(elements)) {}
    AppendOnlyList(std::vector<T> elements) {
        if (elements.empty()) {
            return;
        }
        storage_ = std::make_shared<Storage>();
        for (auto& element : elements) {
            storage_->emplace(count_, std::move(element));
            ++count_;
        }
    }

    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    const T& operator[](std::size_t index) const { return storage_->at(index); }
    const T& front() const { return (*this)[0]; }
    const T& back() const { return (*this)[count_ - 1]; }
    const_iterator begin() const { return const_iterator(this, 0); }
    const_iterator end() const { return const_iterator(this, count_); }

    // This list with `element` at the end. When this list is the longest of those sharing its
    // elements, the new one shares them too; otherwise (a later version was made from this one
    // already) the new list starts storage of its own, so no list ever changes.
    AppendOnlyList appending(T element) const {
        if (storage_) {
            std::lock_guard lock(storage_->appendLock);
            if (storage_->size == count_) {
                storage_->emplace(count_, std::move(element));
                return AppendOnlyList(storage_, count_ + 1);
            }
        }
        auto storage = std::make_shared<Storage>();
        for (std::size_t index = 0; index < count_; ++index) {
            storage->emplace(index, (*this)[index]);
        }
        storage->emplace(count_, std::move(element));
        return AppendOnlyList(std::move(storage), count_ + 1);
    }
    void append(T element) { *this = appending(std::move(element)); }

    // Whether the two lists show elements from the same storage (for tests of the sharing).
    bool sharesStorageWith(const AppendOnlyList& other) const {
        return storage_ != nullptr && storage_ == other.storage_;
    }

    friend bool operator==(const AppendOnlyList& a, const AppendOnlyList& b) {
        return a.count_ == b.count_ && std::equal(a.begin(), a.end(), b.begin());
    }

    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = const T*;
        using reference = const T&;

        const_iterator() = default;
        reference operator*() const { return (*list_)[index_]; }
        pointer operator->() const { return &(*list_)[index_]; }
        const_iterator& operator++() {
            ++index_;
            return *this;
        }
        const_iterator operator++(int) {
            auto before = *this;
            ++index_;
            return before;
        }
        friend bool operator==(const const_iterator& a, const const_iterator& b) {
            return a.index_ == b.index_;
        }

    private:
        friend class AppendOnlyList;
        const_iterator(const AppendOnlyList* list, std::size_t index) : list_(list), index_(index) {}
        const AppendOnlyList* list_ = nullptr;
        std::size_t index_ = 0;
    };

private:
    // Elements live in blocks that never move: block b holds 2^(b+1) of them, so appending never
    // relocates what readers hold. Block 0 lies inside the storage, since most groups have two
    // members, and so do the addresses of the next few blocks, enough for the groups of a few
    // hundred; the table of the further blocks is made only when a list outgrows those. Only slots
    // at or past a list's count (and the addresses of blocks no list reaches yet) are written while
    // that list may be read.
    class Storage {
    public:
        Storage() = default;
        Storage(const Storage&) = delete;
        Storage& operator=(const Storage&) = delete;
        ~Storage() {
            for (std::size_t index = 0; index < size; ++index) {
                std::destroy_at(&at(index));
            }
            for (std::size_t block = 1; block < blockCount && std::as_const(*this).blockAt(block) != nullptr;
                 ++block) {
                std::allocator<T>().deallocate(std::as_const(*this).blockAt(block), capacity(block));
            }
        }

        const T& at(std::size_t index) const { return const_cast<Storage*>(this)->at(index); }
        T& at(std::size_t index) {
            auto [block, offset] = locate(index);
            return block == 0 ? inlineElements()[offset] : std::as_const(*this).blockAt(block)[offset];
        }

        // Constructs the element at `index`, which must equal `size`.
        template <typename U> void emplace(std::size_t index, U&& element) {
            auto [block, offset] = locate(index);
            T* elements = inlineElements();
            if (block > 0) {
                if (block > nearBlocks && !farBlocks) {
                    farBlocks = std::make_unique<T*[]>(blockCount - 1 - nearBlocks);
                }
                T*& address = addressOf(block);
                if (address == nullptr) {
                    address = std::allocator<T>().allocate(capacity(block));
                }
                elements = address;
            }
            std::construct_at(&elements[offset], std::forward<U>(element));
            size = index + 1;
        }

        std::mutex appendLock;
        // Elements constructed so far; guarded by `appendLock` once the storage is shared.
        std::size_t size = 0;

    private:
        // 2^49 elements in all: more than any memory holds.
        static constexpr std::size_t blockCount = 48;

        static std::size_t capacity(std::size_t block) { return std::size_t{2} << block; }
        static std::pair<std::size_t, std::size_t> locate(std::size_t index) {
            std::size_t shifted = index + 2;
            std::size_t block = static_cast<std::size_t>(std::bit_width(shifted)) - 2;
            return {block, shifted - capacity(block)};
        }
        // Blocks 1 to this one have their addresses inside the storage.
        static constexpr std::size_t nearBlocks = 6;

        T* inlineElements() { return std::launder(reinterpret_cast<T*>(inlineBlock)); }
        // The slot of a block's address; a far one needs the far table made.
        T*& addressOf(std::size_t block) {
            return block <= nearBlocks ? nearAddresses[block - 1] : farBlocks[block - 1 - nearBlocks];
        }
        T* blockAt(std::size_t block) const {
            if (block <= nearBlocks) {
                return nearAddresses[block - 1];
            }
            return farBlocks ? farBlocks[block - 1 - nearBlocks] : nullptr;
        }

        alignas(T) std::byte inlineBlock[2 * sizeof(T)];
        std::array<T*, nearBlocks> nearAddresses{};
        std::unique_ptr<T*[]> farBlocks;
    };

    AppendOnlyList(std::shared_ptr<Storage> storage, std::size_t count)
        : storage_(std::move(storage)), count_(count) {}

    std::shared_ptr<Storage> storage_;
    std::size_t count_ = 0;
};

} // namespace sweepkit::pipeline
