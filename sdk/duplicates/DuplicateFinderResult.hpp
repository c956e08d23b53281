#pragma once

#include "platform/coding/Decoding.hpp"
#include "platform/uuid/UUID.hpp"
#include "sdk/duplicates/pipeline/DuplicateGroup.hpp"
#include "sdk/finder/records/FileSystemItem.hpp"
#include "sdk/finder/records/ProcessingError.hpp"

#include <cstdint>
#include <map>
#include <vector>

namespace sweepkit {

// One group of copies as callers of the duplicate finder see it: URL-based items in the order the
// pipeline found them.
struct DuplicateFinderGroup {
    velmor::UUID id;
    std::vector<FileSystemItem> items;

    DuplicateFinderGroup() = default;
    explicit DuplicateFinderGroup(const pipeline::DuplicateGroup& group);

    std::vector<velmor::URL> urls() const;
    // Bytes taken by every member, each counted by its own entry's size (a folder by its entry,
    // not its contents).
    std::int64_t totalSize() const;
    // What deleting every member but the first frees.
    std::int64_t reclaimableSize() const;
};

// What a duplicate search hands its caller: one group in a partial result, everything found in the
// final one. Shared between the run and the callbacks, so it is held by pointer.
class DuplicateFinderResult {
public:
    using GroupsById = std::map<velmor::UUID, pipeline::DuplicateGroup>;

    GroupsById duplicatesByHash;
    std::vector<ProcessingError> errors;
    bool cancelled = false;
    bool isLastResult = false;

    std::vector<DuplicateFinderGroup> groups() const;
    std::int64_t totalSize() const;
    std::int64_t reclaimableSize() const;
};

} // namespace sweepkit

// The groups are written as one flat list alternating the id's text and the group, since the keys
// are neither text nor integers. Every key is required.
template <> struct velmor::coding::Coding<sweepkit::DuplicateFinderResult> {
    static Value encode(const sweepkit::DuplicateFinderResult& result);
    static sweepkit::DuplicateFinderResult decode(const Decoder& decoder);
};
