#include "sdk/finder/records/FileSystemNode.hpp"

#include "platform/fs/URLCoding.hpp"
#include "platform/hashing/HashCombine.hpp"

namespace sweepkit {

const velmor::URL& FileSystemNode::url() const {
    if (auto item = asItem()) {
        return item->url;
    }
    return asFolder()->url;
}

std::vector<FileSystemItem> FileSystemNode::allItems() const {
    std::vector<FileSystemItem> items;
    collectItems(items);
    return items;
}

void FileSystemNode::collectItems(std::vector<FileSystemItem>& into) const {
    if (auto item = asItem()) {
        into.push_back(*item);
        return;
    }
    for (const auto& child : asFolder()->children) {
        child.collectItems(into);
    }
}

bool FileSystemNode::isEmptyFolder() const {
    auto folder = asFolder();
    return folder != nullptr && folder->children.empty();
}

std::size_t FileSystemNode::hash() const {
    std::size_t seed = 0;
    velmor::hashCombine(seed, value_.index());
    if (auto item = asItem()) {
        velmor::hashCombine(seed, std::hash<velmor::URL>{}(item->url));
        return seed;
    }
    const Folder& folder = *asFolder();
    velmor::hashCombine(seed, std::hash<velmor::URL>{}(folder.url));
    velmor::hashCombine(seed, std::hash<std::int64_t>{}(folder.contentSize));
    velmor::hashCombine(seed, folder.children.size());
    for (const auto& child : folder.children) {
        velmor::hashCombine(seed, child.hash());
    }
    return seed;
}

} // namespace sweepkit

namespace velmor::coding {

Value Coding<sweepkit::FileSystemNode>::encode(const sweepkit::FileSystemNode& node) {
    if (auto item = node.asItem()) {
        return encodeOneKey("item", Object{{"_0", coding::encode(*item)}});
    }
    const auto& folder = *node.asFolder();
    return encodeOneKey("folder", Object{{"_0", coding::encode(folder.url)},
                                         {"contentSize", folder.contentSize},
                                         {"_2", coding::encode(folder.children)}});
}

sweepkit::FileSystemNode Coding<sweepkit::FileSystemNode>::decode(const Decoder& decoder) {
    auto [caseName, payload] = decodeOneKey(decoder, {"item", "folder"});
    if (caseName == "item") {
        return sweepkit::FileSystemNode::item(payload.decode<sweepkit::FileSystemItem>("_0"));
    }
    return sweepkit::FileSystemNode::folder(payload.decode<URL>("_0"),
                                            payload.decode<std::int64_t>("contentSize"),
                                            payload.decode<std::vector<sweepkit::FileSystemNode>>("_2"));
}

} // namespace velmor::coding
