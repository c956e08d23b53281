#include "sdk/duplicates/DuplicateFinderResult.hpp"

#include "platform/uuid/UUIDCoding.hpp"
#include "sdk/finder/records/SaturatingSum.hpp"

#include <iterator>

namespace sweepkit {

namespace {

// Items of both group forms carry their status record as `metadata`.
template <typename Iterator> std::int64_t sizeOfItems(Iterator begin, Iterator end) {
    std::int64_t total = 0;
    for (auto item = begin; item != end; ++item) {
        total = saturatingAdd(total, item->metadata.st_size);
    }
    return total;
}

template <typename Items> std::int64_t sizeOfItems(const Items& items) {
    return sizeOfItems(items.begin(), items.end());
}

// All but the first: a sum that stopped at the largest count cannot be taken apart again.
template <typename Items> std::int64_t reclaimableSizeOfItems(const Items& items) {
    return items.empty() ? 0 : sizeOfItems(std::next(items.begin()), items.end());
}

} // namespace

DuplicateFinderGroup::DuplicateFinderGroup(const pipeline::DuplicateGroup& group) : id(group.id) {
    items.reserve(group.items.size());
    for (const auto& item : group.items) {
        items.push_back(
            FileSystemItem{velmor::URL::fileURL(item.path), item.metadata, item.hasDeletePermission});
    }
}

std::vector<velmor::URL> DuplicateFinderGroup::urls() const {
    std::vector<velmor::URL> urls;
    urls.reserve(items.size());
    for (const auto& item : items) {
        urls.push_back(item.url);
    }
    return urls;
}

std::int64_t DuplicateFinderGroup::totalSize() const {
    return sizeOfItems(items);
}

std::int64_t DuplicateFinderGroup::reclaimableSize() const {
    return reclaimableSizeOfItems(items);
}

std::vector<DuplicateFinderGroup> DuplicateFinderResult::groups() const {
    std::vector<DuplicateFinderGroup> groups;
    groups.reserve(duplicatesByHash.size());
    for (const auto& [id, group] : duplicatesByHash) {
        groups.emplace_back(group);
    }
    return groups;
}

std::int64_t DuplicateFinderResult::totalSize() const {
    std::int64_t total = 0;
    for (const auto& [id, group] : duplicatesByHash) {
        total = saturatingAdd(total, sizeOfItems(group.items));
    }
    return total;
}

std::int64_t DuplicateFinderResult::reclaimableSize() const {
    std::int64_t total = 0;
    for (const auto& [id, group] : duplicatesByHash) {
        total = saturatingAdd(total, reclaimableSizeOfItems(group.items));
    }
    return total;
}

} // namespace sweepkit

namespace velmor::coding {

using sweepkit::DuplicateFinderResult;

Value Coding<DuplicateFinderResult>::encode(const DuplicateFinderResult& result) {
    Array groups;
    groups.reserve(result.duplicatesByHash.size() * 2);
    for (const auto& [id, group] : result.duplicatesByHash) {
        groups.push_back(coding::encode(id));
        groups.push_back(coding::encode(group));
    }
    return Object{{"duplicatesByHash", std::move(groups)},
                  {"errors", coding::encode(result.errors)},
                  {"cancelled", result.cancelled},
                  {"isLastResult", result.isLastResult}};
}

DuplicateFinderResult Coding<DuplicateFinderResult>::decode(const Decoder& decoder) {
    // Everything is read into locals first, so a failure hands out nothing half-decoded.
    DuplicateFinderResult::GroupsById groups;
    const std::vector<Decoder> elements = decoder["duplicatesByHash"].elements();
    if (elements.size() % 2 != 0) {
        decoder["duplicatesByHash"].dataCorrupted(
            "Expected an even number of elements: keys alternating with groups.");
    }
    for (std::size_t index = 0; index < elements.size(); index += 2) {
        groups.insert_or_assign(elements[index].as<UUID>(),
                                elements[index + 1].as<sweepkit::pipeline::DuplicateGroup>());
    }
    auto errors = decoder.decode<std::vector<sweepkit::ProcessingError>>("errors");
    const bool cancelled = decoder.decode<bool>("cancelled");
    const bool isLastResult = decoder.decode<bool>("isLastResult");

    DuplicateFinderResult result;
    result.duplicatesByHash = std::move(groups);
    result.errors = std::move(errors);
    result.cancelled = cancelled;
    result.isLastResult = isLastResult;
    return result;
}

} // namespace velmor::coding
