#include "platform/metadata/MetadataIndex.hpp"

namespace velmor::metadata {

namespace {

std::mutex currentIndexMutex;
std::shared_ptr<const MetadataIndex> currentIndex;

} // namespace

std::shared_ptr<const MetadataIndex> MetadataIndex::current() {
    std::lock_guard lock(currentIndexMutex);
    return currentIndex;
}

std::shared_ptr<const MetadataIndex> MetadataIndex::install(std::shared_ptr<const MetadataIndex> index) {
    std::lock_guard lock(currentIndexMutex);
    auto previous = std::move(currentIndex);
    currentIndex = std::move(index);
    return previous;
}

void InMemoryMetadataIndex::add(MetadataItem item) {
    std::lock_guard lock(mutex_);
    URL url = item.url();
    items_.insert_or_assign(std::move(url), std::move(item));
}

std::optional<MetadataItem> InMemoryMetadataIndex::item(const URL& url) const {
    std::lock_guard lock(mutex_);
    auto found = items_.find(url);
    if (found == items_.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::optional<MetadataItem> MetadataItem::forURL(const URL& url) {
    auto index = MetadataIndex::current();
    return index ? index->item(url) : std::nullopt;
}

const coding::Value* MetadataItem::valueForAttribute(const std::string& attribute) const {
    auto found = attributes_.find(attribute);
    return found == attributes_.end() ? nullptr : &found->second;
}

} // namespace velmor::metadata
