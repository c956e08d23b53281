#pragma once

#include "platform/coding/Decoding.hpp"
#include "platform/uuid/UUID.hpp"
#include "sdk/duplicates/pipeline/AppendOnlyList.hpp"
#include "sdk/duplicates/pipeline/FileSystemItem.hpp"

namespace sweepkit::pipeline {

// Entries found to be copies of each other, identified by `id`. A group grows one item at a time
// during a walk; each state is a value of its own, sharing its items with the states before it.
struct DuplicateGroup {
    velmor::UUID id;
    AppendOnlyList<FileSystemItem> items;

    friend bool operator==(const DuplicateGroup&, const DuplicateGroup&) = default;
};

} // namespace sweepkit::pipeline

template <> struct velmor::coding::Coding<sweepkit::pipeline::DuplicateGroup> {
    static Value encode(const sweepkit::pipeline::DuplicateGroup& group);
    static sweepkit::pipeline::DuplicateGroup decode(const Decoder& decoder);
};
