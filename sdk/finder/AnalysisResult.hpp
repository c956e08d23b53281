#pragma once

#include "sdk/finder/records/FileSystemNode.hpp"
#include "sdk/finder/records/ProcessingError.hpp"

#include <vector>

namespace sweepkit {

// What a search found: a forest of nodes and the per-path failures met on the way. The finder names
// this type `FileFinder::AnalysisResult`.
struct AnalysisResult {
    std::vector<FileSystemNode> nodes;
    std::vector<ProcessingError> errors;
    // No further result follows for this search.
    bool isLastResult = false;
    // The search stopped because its task was cancelled.
    bool cancelled = false;

    // The items of every node, node by node, each in depth-first order.
    std::vector<FileSystemItem> flattenedItems() const;
};

} // namespace sweepkit

// Stored under the field names; nodes and errors use their own codings.
template <> struct velmor::coding::Coding<sweepkit::AnalysisResult> {
    static Value encode(const sweepkit::AnalysisResult& result);
    static sweepkit::AnalysisResult decode(const Decoder& decoder);
};
