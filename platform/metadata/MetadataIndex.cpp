#include "platform/metadata/MetadataIndex.hpp"

#include <algorithm>

namespace velmor::metadata {

namespace {

std::mutex currentIndexMutex;
std::shared_ptr<const MetadataIndex> currentIndex;
// Mirrors whether `currentIndex` is set, so the look-ups of a scan with no index (always the case
// outside tests) take no lock and copy no pointer.
std::atomic<bool> indexInstalled{false};

} // namespace

std::shared_ptr<const MetadataIndex> MetadataIndex::current() {
    if (!indexInstalled.load(std::memory_order_acquire)) {
        return nullptr;
    }
    std::lock_guard lock(currentIndexMutex);
    return currentIndex;
}

std::shared_ptr<const MetadataIndex> MetadataIndex::install(std::shared_ptr<const MetadataIndex> index) {
    std::lock_guard lock(currentIndexMutex);
    auto previous = std::move(currentIndex);
    currentIndex = std::move(index);
    indexInstalled.store(currentIndex != nullptr, std::memory_order_release);
    return previous;
}

void InMemoryMetadataIndex::add(MetadataItem item) {
    std::lock_guard lock(mutex_);
    auto [position, inserted] = positions_.try_emplace(item.url(), items_.size());
    if (inserted) {
        items_.push_back(std::move(item));
    } else {
        items_[position->second] = std::move(item);
    }
}

std::optional<MetadataItem> InMemoryMetadataIndex::item(const URL& url) const {
    std::lock_guard lock(mutex_);
    auto found = positions_.find(url);
    if (found == positions_.end()) {
        return std::nullopt;
    }
    return items_[found->second];
}

std::vector<MetadataItem> InMemoryMetadataIndex::search(const std::vector<URL>& scopes,
                                                        const Predicate& predicate) const {
    std::vector<std::string> scopePaths;
    for (const auto& scope : scopes) {
        scopePaths.push_back(scope.path());
    }
    std::lock_guard lock(mutex_);
    std::vector<MetadataItem> found;
    for (const auto& item : items_) {
        const std::string path = item.url().path();
        bool inScope = std::any_of(scopePaths.begin(), scopePaths.end(),
                                   [&path](const std::string& scope) { return isPathWithin(path, scope); });
        if (inScope && predicate.evaluate(item)) {
            found.push_back(item);
        }
    }
    return found;
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
