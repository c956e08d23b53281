#include "sdk/finder/records/FileSystemItem.hpp"

#include "platform/fs/URLCoding.hpp"
#include "sdk/finder/records/StatCoding.hpp"

namespace velmor::coding {

Value Coding<sweepkit::FileSystemItem>::encode(const sweepkit::FileSystemItem& item) {
    return Object{{"url", coding::encode(item.url)},
                  {"metadata", coding::encode(item.metadata)},
                  {"hasDeletePermission", item.hasDeletePermission}};
}

sweepkit::FileSystemItem Coding<sweepkit::FileSystemItem>::decode(const Decoder& decoder) {
    return sweepkit::FileSystemItem{decoder.decode<URL>("url"), decoder.decode<Stat>("metadata"),
                                    decoder.decode<bool>("hasDeletePermission")};
}

} // namespace velmor::coding
