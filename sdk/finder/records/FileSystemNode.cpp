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

namespace {

Value encodeItem(const sweepkit::FileSystemItem& item) {
    Object payload;
    payload.set("_0", coding::encode(item));
    return encodeOneKey("item", std::move(payload));
}

} // namespace

// A result may be as deep as the longest path allows, so the tree is encoded by a loop over a stack
// of the folders on the way down, not by a call per level; each node's value is built once and
// moved into its parent's, so the encoding takes time in step with the result.
Value Coding<sweepkit::FileSystemNode>::encode(const sweepkit::FileSystemNode& node) {
    if (auto item = node.asItem()) {
        return encodeItem(*item);
    }
    struct Pending {
        const sweepkit::FileSystemNode::Folder* folder;
        std::size_t nextChild;
        Array children;
    };
    auto pending = [](const sweepkit::FileSystemNode::Folder& folder) {
        Array children;
        children.reserve(folder.children.size());
        return Pending{&folder, 0, std::move(children)};
    };
    std::vector<Pending> stack;
    stack.push_back(pending(*node.asFolder()));
    for (;;) {
        Pending& top = stack.back();
        if (top.nextChild < top.folder->children.size()) {
            const sweepkit::FileSystemNode& child = top.folder->children[top.nextChild++];
            if (auto item = child.asItem()) {
                top.children.push_back(encodeItem(*item));
            } else {
                stack.push_back(pending(*child.asFolder()));
            }
            continue;
        }
        Object payload;
        payload.set("_0", coding::encode(top.folder->url));
        payload.set("contentSize", top.folder->contentSize);
        payload.set("_2", std::move(top.children));
        Value encoded = encodeOneKey("folder", std::move(payload));
        stack.pop_back();
        if (stack.empty()) {
            return encoded;
        }
        stack.back().children.push_back(std::move(encoded));
    }
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
