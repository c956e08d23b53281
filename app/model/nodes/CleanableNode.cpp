#include "app/model/nodes/CleanableNode.hpp"

#include "platform/fs/ResourceValues.hpp"
#include "platform/fs/Volume.hpp"
#include "sdk/finder/records/SaturatingSum.hpp"

#include <sys/stat.h>

namespace marrowdale {

using sweepkit::FileSystemItem;
using sweepkit::FileSystemNode;

namespace {
constexpr velmor::DateResourceKey accessKey = velmor::DateResourceKey::contentAccessDate;
} // namespace

CleanableNodePtr CleanableNode::make(Payload payload) {
    return velmor::MainActor::makeShared<CleanableNode>(std::move(payload));
}

CleanableNodePtr CleanableNode::node(FileSystemNode node) {
    return make(Payload(std::move(node)));
}

CleanableNodePtr CleanableNode::item(FileSystemItem item) {
    return make(Payload(std::move(item)));
}

CleanableNodePtr CleanableNode::nonBrowsableResult(FileFinderCategory category,
                                                   sweepkit::AnalysisResult result) {
    return make(Payload(NonBrowsableResult{std::move(category), std::move(result)}));
}

std::string CleanableNode::id() const {
    if (auto whole = std::get_if<NonBrowsableResult>(&payload_)) {
        return whole->category.id;
    }
    return url()->path();
}

std::optional<velmor::URL> CleanableNode::url() const {
    if (auto tree = std::get_if<FileSystemNode>(&payload_)) {
        return tree->url();
    }
    if (auto lone = std::get_if<FileSystemItem>(&payload_)) {
        return lone->url;
    }
    return std::nullopt;
}

const std::string& CleanableNode::displayName() {
    if (!displayName_) {
        if (auto whole = std::get_if<NonBrowsableResult>(&payload_)) {
            displayName_ = whole->category.id;
        } else if (const auto* found = foundItem(); found && !S_ISDIR(found->metadata.st_mode)) {
            // Only a folder can be a mount point with a volume name of its own; the scan already
            // knows what the entry is, so a table of a million files asks the system nothing here.
            displayName_ = found->url.lastPathComponent();
        } else {
            displayName_ = velmor::localizedName(*url());
        }
    }
    return *displayName_;
}

const IconDescriptor& CleanableNode::icon() {
    if (!icon_) {
        if (std::holds_alternative<NonBrowsableResult>(payload_)) {
            icon_ = IconDescriptor{IconDescriptor::Kind::folderType, {}};
        } else {
            icon_ = IconDescriptor{IconDescriptor::Kind::file, url()->path()};
        }
    }
    return *icon_;
}

std::int64_t CleanableNode::size() {
    if (!size_) {
        if (auto tree = std::get_if<FileSystemNode>(&payload_)) {
            size_ = tree->asFolder() ? tree->asFolder()->contentSize : tree->asItem()->metadata.st_size;
        } else if (auto lone = std::get_if<FileSystemItem>(&payload_)) {
            size_ = lone->metadata.st_size;
        } else {
            std::int64_t sum = 0;
            for (const auto& found : std::get<NonBrowsableResult>(payload_).result.flattenedItems()) {
                sum = sweepkit::saturatingAdd(sum, found.metadata.st_size);
            }
            size_ = sum;
        }
    }
    return *size_;
}

const std::optional<CleanableNode::Date>& CleanableNode::lastAccessDate() {
    if (!lastAccessDate_) {
        // A record with a zero access time was made without one; a folder of a tree has no record.
        const auto* found = foundItem();
        if (found && found->metadata.st_atimespec != velmor::Timespec{}) {
            lastAccessDate_ = velmor::dateResourceValues(found->url, found->metadata,
                                                         {&accessKey, 1})[accessKey];
        } else {
            lastAccessDate_ = readLastAccessDate();
        }
    }
    return *lastAccessDate_;
}

std::optional<CleanableNode::Date> CleanableNode::readLastAccessDate() const {
    auto location = url();
    if (!location) {
        return std::nullopt;
    }
    try {
        return velmor::dateResourceValue(*location, accessKey);
    } catch (const velmor::ComponentError&) {
        return std::nullopt;
    }
}

CleanableNode::Date CleanableNode::distantPast() {
    // The earliest time the clock can hold (the year 1677): before any file's date, which is all
    // sorting by last access needs.
    return Date::min();
}

CleanableNode::Date CleanableNode::lastAccessDateOrDistantPast() {
    return lastAccessDate().value_or(distantPast());
}

bool CleanableNode::hasChildren() const {
    if (children_) {
        return *children_ && !(*children_)->empty();
    }
    auto tree = std::get_if<FileSystemNode>(&payload_);
    return tree && tree->asFolder() && !tree->asFolder()->children.empty();
}

const sweepkit::FileSystemItem* CleanableNode::foundItem() const {
    if (auto tree = std::get_if<FileSystemNode>(&payload_)) {
        return tree->asItem();
    }
    return std::get_if<FileSystemItem>(&payload_);
}

std::optional<CleanableNodes>& CleanableNode::children() {
    if (!children_) {
        std::optional<CleanableNodes> computed;
        if (auto tree = std::get_if<FileSystemNode>(&payload_); tree && tree->asFolder()) {
            computed.emplace();
            for (const auto& child : tree->asFolder()->children) {
                computed->push_back(CleanableNode::node(child));
            }
        }
        children_ = std::move(computed);
    }
    return *children_;
}

} // namespace marrowdale
