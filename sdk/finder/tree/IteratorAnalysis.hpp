#pragma once

#include "sdk/filesystem/BaseFilesIterator.hpp"
#include "sdk/finder/FileFinderAnalyzer.hpp"
#include "sdk/finder/records/SaturatingSum.hpp"
#include "sdk/finder/tree/BundleHandler.hpp"

#include <vector>

namespace sweepkit {

// A leave event came with no folder open: the walk and its consumer disagree.
class UnexpectedDirectoryLeave : public velmor::ComponentError {
public:
    static constexpr const char* domain = "SweepKit.TreeFileFinderAnalyzer.UnexpectedDirectoryLeave";
    // An error record without cases presents itself with code 1.
    velmor::Error toError() const override { return velmor::Error(domain, 1); }
};

// A folder the walk is inside: the nodes kept below it so far and the size they and its
// sub-folders add up to.
struct FolderNode {
    velmor::URL directoryURL;
    std::vector<FileSystemNode> nodes;
    std::int64_t currentSize = 0;

    void add(std::int64_t bytes) { currentSize = saturatingAdd(currentSize, bytes); }
};

// The walk of one root: turns the iterator's events into matching items and the folders on the way
// to them, packages taken whole. Cancellation of the current task is checked before the first
// event and after every event; a walk stopped by it keeps only its finished top-level nodes. A walk
// that the iterator gives up keeps everything judged so far: its open folders are closed into nodes.
class IteratorAnalysis {
public:
    // The criterion and the callbacks are borrowed for the life of the analysis; an empty callback
    // is not called.
    IteratorAnalysis(BaseFilesIterator& iterator, const FileMatchingCriterion& criterion,
                     const FileFinderAnalyzer::FoundItemCallback& foundItemCallback,
                     const FileFinderAnalyzer::ProcessedItemCallback& processedItemCallback);

    void run();

    std::vector<ProcessingError> errors;
    std::vector<FileSystemNode> rootNodes;
    std::vector<FolderNode> currentFolderNodeStack;
    BundleHandler bundleHandler;

private:
    void handle(const Event& event);
    void enterDirectory(const Event& event);
    void leaveDirectory();
    void unreadableDirectory(const Event& event);
    // Keeps a copy of the item when it matches, then counts it as judged.
    void judge(const FileSystemItem& item);
    void addNode(FileSystemNode node);
    // A cleared list from a folder left earlier, so that gathering a folder's nodes does not grow a
    // new list from nothing each time.
    std::vector<FileSystemNode> takeSpareNodeList();
    // The nodes of `gathered` moved into a list of their own size; `gathered` goes back to the spares.
    std::vector<FileSystemNode> keepNodes(std::vector<FileSystemNode>& gathered);

    BaseFilesIterator& iterator_;
    const FileMatchingCriterion& criterion_;
    const FileFinderAnalyzer::FoundItemCallback& foundItemCallback_;
    const FileFinderAnalyzer::ProcessedItemCallback& processedItemCallback_;
    // The entry being judged, refilled for each one so that only kept entries cost an allocation.
    FileSystemItem candidate_;
    std::vector<std::vector<FileSystemNode>> spareNodeLists_;
};

} // namespace sweepkit
