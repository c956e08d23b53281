#include "sdk/duplicates/pipeline/FileSystemItem.hpp"

#include "sdk/finder/records/PathText.hpp"
#include "sdk/finder/records/StatCoding.hpp"

namespace sweepkit::pipeline {

FileSystemItem::FileSystemItem(const velmor::URL& url, bool hasDeletePermission)
    : path(url.path()), hasDeletePermission(hasDeletePermission) {
    if (auto stat = velmor::Stat::lstatPath(path)) {
        metadata = *stat;
    }
}

std::optional<FileSystemItem> FileSystemItem::fromEvent(const Event& event) {
    if (event.kind() != Event::Kind::file && event.kind() != Event::Kind::enterDirectory) {
        return std::nullopt;
    }
    return FileSystemItem(event.path(), *event.stat(), event.hasDeletePermission());
}

} // namespace sweepkit::pipeline

namespace velmor::coding {

using sweepkit::pipeline::FileSystemItem;

Value Coding<FileSystemItem>::encode(const FileSystemItem& item) {
    return Object{{"path", sweepkit::pathText(item.path)},
                  {"metadata", coding::encode(item.metadata)},
                  {"hasDeletePermission", item.hasDeletePermission}};
}

FileSystemItem Coding<FileSystemItem>::decode(const Decoder& decoder) {
    return FileSystemItem{sweepkit::pathFromText(decoder.decode<std::string>("path")),
                          decoder.decode<Stat>("metadata"), decoder.decode<bool>("hasDeletePermission")};
}

} // namespace velmor::coding
