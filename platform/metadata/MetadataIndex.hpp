#pragma once

#include "platform/metadata/MetadataItem.hpp"
#include "platform/metadata/Predicate.hpp"

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

namespace velmor::metadata {

// The store the metadata queries and items read. Linux keeps no such index, so by default there is
// none: every lookup finds nothing and every query ends at once without a result. Tests install an
// in-memory one.
class MetadataIndex {
public:
    virtual ~MetadataIndex() = default;
    virtual std::optional<MetadataItem> item(const URL& url) const = 0;
    // The items at or below any of `scopes` that satisfy `predicate`, in the index's own order.
    virtual std::vector<MetadataItem> search(const std::vector<URL>& scopes,
                                             const Predicate& predicate) const = 0;
    // Whether the queries on this index are still gathering their first results.
    virtual bool isGathering() const { return false; }

    // The process-wide index, or nothing; without one, answered without a lock.
    static std::shared_ptr<const MetadataIndex> current();
    // Replaces the process-wide index and returns the previous one.
    static std::shared_ptr<const MetadataIndex> install(std::shared_ptr<const MetadataIndex> index);
};

// An index held in memory, answering in the order its items were added.
class InMemoryMetadataIndex : public MetadataIndex {
public:
    // Adds the item, or replaces the one with the same URL in its place.
    void add(MetadataItem item);
    std::optional<MetadataItem> item(const URL& url) const override;
    std::vector<MetadataItem> search(const std::vector<URL>& scopes,
                                     const Predicate& predicate) const override;

    // While held, queries show what they found but never finish gathering, as a slow index would.
    void holdGathering(bool held) { gatheringHeld_.store(held); }
    bool isGathering() const override { return gatheringHeld_.load(); }

private:
    mutable std::mutex mutex_;
    std::vector<MetadataItem> items_;
    std::unordered_map<URL, std::size_t> positions_;
    std::atomic<bool> gatheringHeld_{false};
};

} // namespace velmor::metadata
