#include "sdk/finder/AnalysisResult.hpp"

namespace sweepkit {

std::vector<FileSystemItem> AnalysisResult::flattenedItems() const {
    std::vector<FileSystemItem> items;
    for (const auto& node : nodes) {
        auto nodeItems = node.allItems();
        items.insert(items.end(), std::make_move_iterator(nodeItems.begin()),
                     std::make_move_iterator(nodeItems.end()));
    }
    return items;
}

} // namespace sweepkit

namespace velmor::coding {

Value Coding<sweepkit::AnalysisResult>::encode(const sweepkit::AnalysisResult& result) {
    return Object{{"nodes", coding::encode(result.nodes)},
                  {"errors", coding::encode(result.errors)},
                  {"isLastResult", result.isLastResult},
                  {"cancelled", result.cancelled}};
}

sweepkit::AnalysisResult Coding<sweepkit::AnalysisResult>::decode(const Decoder& decoder) {
    return sweepkit::AnalysisResult{decoder.decode<std::vector<sweepkit::FileSystemNode>>("nodes"),
                                    decoder.decode<std::vector<sweepkit::ProcessingError>>("errors"),
                                    decoder.decode<bool>("isLastResult"), decoder.decode<bool>("cancelled")};
}

} // namespace velmor::coding
