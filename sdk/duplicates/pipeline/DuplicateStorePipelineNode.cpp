#include "sdk/duplicates/pipeline/DuplicateStorePipelineNode.hpp"

#include <algorithm>

namespace sweepkit::pipeline {

DuplicateStorePipelineNode::DuplicateStorePipelineNode(const std::optional<Event>& firstEvent) {
    if (firstEvent) {
        if (auto item = FileSystemItem::fromEvent(*firstEvent)) {
            insert(std::move(*item));
        }
    }
}

const velmor::UUID& DuplicateStorePipelineNode::identifier() {
    if (!identifier_) {
        identifier_ = velmor::UUID::random();
    }
    return *identifier_;
}

namespace {

// Members a group searches one by one before it indexes them.
constexpr std::size_t unindexedMembers = 16;

// Inode 0 means no status record was read: such items are told apart by path alone.
std::optional<std::pair<std::int32_t, std::uint64_t>> fileOf(const FileSystemItem& item) {
    if (item.metadata.st_ino == 0) {
        return std::nullopt;
    }
    return std::pair{item.metadata.st_dev, item.metadata.st_ino};
}

} // namespace

bool DuplicateStorePipelineNode::holds(const FileSystemItem& item) const {
    const auto file = fileOf(item);
    if (index_) {
        return index_->paths.contains(item.path) || (file && index_->files.contains(*file));
    }
    return std::any_of(items_.begin(), items_.end(), [&](const FileSystemItem& member) {
        return member.path == item.path || (file && fileOf(member) == file);
    });
}

bool DuplicateStorePipelineNode::insert(FileSystemItem item) {
    if (holds(item)) {
        return false;
    }
    items_.append(std::move(item));
    if (!index_ && items_.size() > unindexedMembers) {
        index_ = std::make_unique<Index>();
        for (const FileSystemItem& member : items_) {
            index_->paths.insert(member.path);
            if (const auto file = fileOf(member)) {
                index_->files.insert(*file);
            }
        }
    } else if (index_) {
        const FileSystemItem& added = items_.back();
        index_->paths.insert(added.path);
        if (const auto file = fileOf(added)) {
            index_->files.insert(*file);
        }
    }
    return true;
}

DuplicateProcessorResult DuplicateStorePipelineNode::process(const Event& event) {
    auto item = FileSystemItem::fromEvent(event);
    if (!item || !insert(std::move(*item))) {
        return DuplicateProcessorResult::notDuplicate();
    }
    return DuplicateProcessorResult::duplicate(DuplicateGroup{identifier(), items_}, false);
}

} // namespace sweepkit::pipeline
