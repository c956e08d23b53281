#pragma once

#include "platform/coding/Decoding.hpp"
#include "platform/fs/Stat.hpp"
#include "platform/fs/URL.hpp"

namespace sweepkit {

// One entry found by a search: where it is, its status record, and whether the user the search ran
// as may delete it. Items are the same item when their URLs are equal, whatever their metadata.
struct FileSystemItem {
    velmor::URL url;
    velmor::Stat metadata;
    bool hasDeletePermission = false;

    friend bool operator==(const FileSystemItem& a, const FileSystemItem& b) { return a.url == b.url; }
};

} // namespace sweepkit

template <> struct std::hash<sweepkit::FileSystemItem> {
    std::size_t operator()(const sweepkit::FileSystemItem& item) const noexcept {
        return std::hash<velmor::URL>{}(item.url);
    }
};

template <> struct velmor::coding::Coding<sweepkit::FileSystemItem> {
    static Value encode(const sweepkit::FileSystemItem& item);
    static sweepkit::FileSystemItem decode(const Decoder& decoder);
};
