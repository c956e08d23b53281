#include "sdk/duplicates/pipeline/DuplicateStorePipelineNode.hpp"

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

bool DuplicateStorePipelineNode::insert(FileSystemItem item) {
    // Inode 0 means no status record was read: such items are told apart by path alone.
    const std::pair file{item.metadata.st_dev, item.metadata.st_ino};
    const bool knowsFile = file.second != 0;
    if (paths_.contains(item.path) || (knowsFile && files_.contains(file))) {
        return false;
    }
    paths_.insert(item.path);
    if (knowsFile) {
        files_.insert(file);
    }
    items_.append(std::move(item));
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
