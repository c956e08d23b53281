#pragma once

#include "sdk/finder/records/FileSystemItem.hpp"

#include <cstdint>
#include <variant>
#include <vector>

namespace sweepkit {

// A search result tree: a matching item, or a folder on the way to matching items with the summed
// size of what lies below it in this tree and its children in the order they were found.
class FileSystemNode {
public:
    struct Folder {
        velmor::URL url;
        std::int64_t contentSize = 0;
        std::vector<FileSystemNode> children;

        friend bool operator==(const Folder&, const Folder&) = default;
    };

    static FileSystemNode item(FileSystemItem item) { return FileSystemNode(std::move(item)); }
    static FileSystemNode folder(velmor::URL url, std::int64_t contentSize,
                                 std::vector<FileSystemNode> children) {
        return FileSystemNode(Folder{std::move(url), contentSize, std::move(children)});
    }

    bool isItem() const { return std::holds_alternative<FileSystemItem>(value_); }
    const FileSystemItem* asItem() const { return std::get_if<FileSystemItem>(&value_); }
    const Folder* asFolder() const { return std::get_if<Folder>(&value_); }
    // For builders that grow a tree in place.
    Folder* asFolder() { return std::get_if<Folder>(&value_); }
    // The URL of the item or of the folder.
    const velmor::URL& url() const;

    // The items below this node in depth-first order (the item itself for an item node).
    std::vector<FileSystemItem> allItems() const;
    bool isEmptyFolder() const;

    // Structural: same case, equal URLs, and for folders equal sizes and equal children in order.
    friend bool operator==(const FileSystemNode&, const FileSystemNode&) = default;
    std::size_t hash() const;

private:
    explicit FileSystemNode(FileSystemItem item) : value_(std::move(item)) {}
    explicit FileSystemNode(Folder folder) : value_(std::move(folder)) {}
    void collectItems(std::vector<FileSystemItem>& into) const;

    std::variant<FileSystemItem, Folder> value_;
};

} // namespace sweepkit

template <> struct std::hash<sweepkit::FileSystemNode> {
    std::size_t operator()(const sweepkit::FileSystemNode& node) const noexcept { return node.hash(); }
};

template <> struct velmor::coding::Coding<sweepkit::FileSystemNode> {
    static Value encode(const sweepkit::FileSystemNode& node);
    static sweepkit::FileSystemNode decode(const Decoder& decoder);
};
