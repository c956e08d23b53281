#pragma once

#include "platform/metadata/MetadataItem.hpp"

#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

namespace velmor::metadata {

// The store the metadata queries and items read. Linux keeps no such index, so by default there is
// none and every lookup finds nothing; tests install an in-memory one.
class MetadataIndex {
public:
    virtual ~MetadataIndex() = default;
    virtual std::optional<MetadataItem> item(const URL& url) const = 0;

    // The process-wide index, or nothing.
    static std::shared_ptr<const MetadataIndex> current();
    // Replaces the process-wide index and returns the previous one.
    static std::shared_ptr<const MetadataIndex> install(std::shared_ptr<const MetadataIndex> index);
};

class InMemoryMetadataIndex : public MetadataIndex {
public:
    void add(MetadataItem item);
    std::optional<MetadataItem> item(const URL& url) const override;

private:
    mutable std::mutex mutex_;
    std::unordered_map<URL, MetadataItem> items_;
};

} // namespace velmor::metadata
