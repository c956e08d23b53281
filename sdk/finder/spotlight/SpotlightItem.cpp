#include "sdk/finder/spotlight/SpotlightItem.hpp"

#include "platform/fs/ResourceValues.hpp"
#include "platform/fs/Stat.hpp"
#include "platform/metadata/MetadataAttributes.hpp"
#include "sdk/finder/records/URLDeletePermission.hpp"

namespace sweepkit {

namespace md = velmor::metadata;

std::optional<FileSystemItem> makeSpotlightItem(const md::MetadataItem& result) {
    const velmor::coding::Value* pathValue = result.valueForAttribute(md::NSMetadataItemPathKey);
    const std::string* path = pathValue != nullptr ? pathValue->get<std::string>() : nullptr;
    if (path == nullptr) {
        return std::nullopt;
    }
    const velmor::URL url = velmor::URL::fileURL(*path);
    velmor::Stat stat = velmor::Stat::lstatPath(*path).value_or(velmor::Stat{});

    std::optional<std::int64_t> size = velmor::totalFileAllocatedSize(url);
    if (!size) {
        const velmor::coding::Value* indexed = result.valueForAttribute(md::NSMetadataItemFSSizeKey);
        const std::int64_t* indexedSize = indexed != nullptr ? indexed->get<std::int64_t>() : nullptr;
        size = indexedSize != nullptr ? *indexedSize : 0;
    }
    stat.st_size = *size;
    return FileSystemItem{url, stat, hasDeletePermission(url)};
}

} // namespace sweepkit
