#pragma once

#include "platform/uuid/UUID.hpp"
#include "sdk/duplicates/pipeline/AppendOnlyList.hpp"
#include "sdk/duplicates/pipeline/DuplicateProcessorPipelineNode.hpp"
#include "sdk/duplicates/pipeline/FileSystemItem.hpp"

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_set>
#include <utility>

namespace sweepkit::pipeline {

// The end of a group's chain: collects the group's items and answers the whole group, under one
// id, from its second item on. Items keep the order they came in, and successive answers share
// them. An item already held, by path or as the same file under another path (a hard link, or a
// second view of one file through a bind mount), is not added: deleting such a "copy" frees
// nothing, or deletes the only one.
class DuplicateStorePipelineNode : public DuplicateProcessorPipelineNode {
public:
    // Holds the item of `firstEvent` when it is a file or an entered folder, else starts empty.
    explicit DuplicateStorePipelineNode(const std::optional<Event>& firstEvent = std::nullopt);

    DuplicateProcessorResult process(const Event& event) override;

    // The group's id, made on first use and fixed afterwards.
    const velmor::UUID& identifier();
    const AppendOnlyList<FileSystemItem>& items() const { return items_; }

private:
    // Adds the item unless it is held already; says whether it was added.
    bool insert(FileSystemItem item);

    // Whether the group holds the item already, by path or as the same file.
    bool holds(const FileSystemItem& item) const;

    AppendOnlyList<FileSystemItem> items_;
    // Most groups have two or three members and are searched one by one; a large group indexes
    // its paths and files here.
    struct Index {
        std::unordered_set<std::string> paths;
        std::set<std::pair<std::int32_t, std::uint64_t>> files;
    };
    std::unique_ptr<Index> index_;
    std::optional<velmor::UUID> identifier_;
};

} // namespace sweepkit::pipeline
