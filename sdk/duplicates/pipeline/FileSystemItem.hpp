#pragma once

#include "platform/coding/Decoding.hpp"
#include "platform/fs/Stat.hpp"
#include "platform/fs/URL.hpp"
#include "sdk/filesystem/Event.hpp"

#include <optional>
#include <string>

namespace sweepkit::pipeline {

// One entry of a duplicate group, known by its path. Two items with the same path are the same item
// whatever their status records say, so a set of items holds each path once.
struct FileSystemItem {
    std::string path;
    velmor::Stat metadata;
    bool hasDeletePermission = false;

    FileSystemItem() = default;
    FileSystemItem(std::string path, const velmor::Stat& metadata, bool hasDeletePermission)
        : path(std::move(path)), metadata(metadata), hasDeletePermission(hasDeletePermission) {}
    // The entry at `url` as `lstat` sees it now. An entry that cannot be read gets an all-zero status
    // record; that is no error here.
    FileSystemItem(const velmor::URL& url, bool hasDeletePermission);

    // The item of a file or entered-folder event; nothing for the other kinds.
    static std::optional<FileSystemItem> fromEvent(const Event& event);

    friend bool operator==(const FileSystemItem& a, const FileSystemItem& b) { return a.path == b.path; }
};

} // namespace sweepkit::pipeline

template <> struct std::hash<sweepkit::pipeline::FileSystemItem> {
    std::size_t operator()(const sweepkit::pipeline::FileSystemItem& item) const noexcept {
        return std::hash<std::string>{}(item.path);
    }
};

// Stored as "path" (as `pathText` writes it), "metadata" and "hasDeletePermission".
template <> struct velmor::coding::Coding<sweepkit::pipeline::FileSystemItem> {
    static Value encode(const sweepkit::pipeline::FileSystemItem& item);
    static sweepkit::pipeline::FileSystemItem decode(const Decoder& decoder);
};
