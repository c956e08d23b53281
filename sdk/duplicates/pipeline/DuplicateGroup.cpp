#include "sdk/duplicates/pipeline/DuplicateGroup.hpp"

#include "platform/uuid/UUIDCoding.hpp"

namespace velmor::coding {

using sweepkit::pipeline::DuplicateGroup;
using sweepkit::pipeline::FileSystemItem;

Value Coding<DuplicateGroup>::encode(const DuplicateGroup& group) {
    Array items;
    items.reserve(group.items.size());
    for (const auto& item : group.items) {
        items.push_back(coding::encode(item));
    }
    return Object{{"id", coding::encode(group.id)}, {"items", std::move(items)}};
}

DuplicateGroup Coding<DuplicateGroup>::decode(const Decoder& decoder) {
    return DuplicateGroup{decoder.decode<UUID>("id"), decoder.decode<std::vector<FileSystemItem>>("items")};
}

} // namespace velmor::coding
