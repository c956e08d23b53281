#include "sdk/finder/tree/IteratorAnalysis.hpp"

#include "platform/concurrency/Task.hpp"
#include "platform/fs/FileIdentity.hpp"
#include "sdk/finder/records/CurrentRecordScope.hpp"
#include "sdk/finder/records/RoundedSize.hpp"

namespace sweepkit {

IteratorAnalysis::IteratorAnalysis(BaseFilesIterator& iterator, const FileMatchingCriterion& criterion,
                                   const FileFinderAnalyzer::FoundItemCallback& foundItemCallback,
                                   const FileFinderAnalyzer::ProcessedItemCallback& processedItemCallback)
    : iterator_(iterator), criterion_(criterion), foundItemCallback_(foundItemCallback),
      processedItemCallback_(processedItemCallback) {}

void IteratorAnalysis::run() {
    if (velmor::AnyTask::isCancelled()) {
        return;
    }
    std::optional<Event> event;
    while (iterator_.advance(event)) {
        handle(*event);
        if (velmor::AnyTask::isCancelled()) {
            return;
        }
    }
    // A walk that ends with folders still open was given up (its error event is among the errors):
    // what was judged inside them is a result all the same.
    while (!currentFolderNodeStack.empty()) {
        leaveDirectory();
    }
}

void IteratorAnalysis::handle(const Event& event) {
    switch (event.kind()) {
    case Event::Kind::enterDirectory:
        enterDirectory(event);
        break;
    case Event::Kind::file:
    case Event::Kind::unknownType:
        if (bundleHandler.currentBundle) {
            // Inside a package: its contents only add to its size.
            if (!currentFolderNodeStack.empty()) {
                currentFolderNodeStack.back().add(roundedSize(*event.stat()));
            }
        } else {
            candidate_.url.setFileURL(event.path());
            candidate_.metadata = *event.stat();
            candidate_.hasDeletePermission = event.hasDeletePermission();
            if (iterator_.lastRecordIsCurrent()) {
                const CurrentRecordScope current(candidate_);
                judge(candidate_);
            } else {
                judge(candidate_);
            }
        }
        break;
    case Event::Kind::leaveDirectory:
        leaveDirectory();
        break;
    case Event::Kind::unreadableDirectory:
        unreadableDirectory(event);
        break;
    case Event::Kind::fileError:
    case Event::Kind::error:
        errors.push_back(ProcessingError{*event.error(), event.path()});
        break;
    case Event::Kind::cycle:
    case Event::Kind::dotFile:
    case Event::Kind::fileWithNoStat:
    case Event::Kind::symlink:
    case Event::Kind::brokenSymlink:
        break;
    }
}

void IteratorAnalysis::enterDirectory(const Event& event) {
    velmor::URL url = event.url();
    if (!bundleHandler.currentBundle && BundleHandler::isPackage(url, *event.stat())) {
        bundleHandler.currentBundle =
            BundleHandler::BundleInfo{url, *event.stat(), event.hasDeletePermission()};
    }
    currentFolderNodeStack.push_back(FolderNode{std::move(url), takeSpareNodeList(), 0});
}

std::vector<FileSystemNode> IteratorAnalysis::takeSpareNodeList() {
    if (spareNodeLists_.empty()) {
        return {};
    }
    std::vector<FileSystemNode> list = std::move(spareNodeLists_.back());
    spareNodeLists_.pop_back();
    return list;
}

std::vector<FileSystemNode> IteratorAnalysis::keepNodes(std::vector<FileSystemNode>& gathered) {
    // The kept list is allocated once at its final size: the gathering list, which grew by doubling,
    // goes back to the spares for the next folder.
    std::vector<FileSystemNode> kept(std::make_move_iterator(gathered.begin()),
                                     std::make_move_iterator(gathered.end()));
    gathered.clear();
    spareNodeLists_.push_back(std::move(gathered));
    return kept;
}

void IteratorAnalysis::leaveDirectory() {
    if (currentFolderNodeStack.empty()) {
        errors.push_back(ProcessingError{UnexpectedDirectoryLeave().toError(), ""});
        return;
    }
    FolderNode folder = std::move(currentFolderNodeStack.back());
    currentFolderNodeStack.pop_back();
    if (auto bundle = bundleHandler.finishBundle(folder.directoryURL, folder.currentSize)) {
        judge(FileSystemItem{std::move(bundle->url), bundle->stat, bundle->hasDeletePermission});
        return;
    }
    // What a folder holds counts for its parent even when nothing in it is kept.
    if (!currentFolderNodeStack.empty()) {
        currentFolderNodeStack.back().add(folder.currentSize);
    }
    if (!folder.nodes.empty()) {
        addNode(FileSystemNode::folder(std::move(folder.directoryURL), folder.currentSize,
                                       keepNodes(folder.nodes)));
    } else {
        spareNodeLists_.push_back(std::move(folder.nodes));
    }
}

void IteratorAnalysis::unreadableDirectory(const Event& event) {
    if (!currentFolderNodeStack.empty()) {
        // Whatever was counted below an unreadable folder is not passed on.
        FolderNode folder = std::move(currentFolderNodeStack.back());
        currentFolderNodeStack.pop_back();
        if (auto bundle = bundleHandler.finishBundle(folder.directoryURL, 0)) {
            judge(FileSystemItem{std::move(bundle->url), bundle->stat, bundle->hasDeletePermission});
        }
    }
    errors.push_back(ProcessingError{*event.error(), event.path()});
}

void IteratorAnalysis::judge(const FileSystemItem& item) {
    bool matches = false;
    try {
        matches = criterion_.matches(item);
    } catch (const velmor::ComponentError& failure) {
        // Neither a match nor a miss: the entry is reported and not kept.
        errors.push_back(ProcessingError{failure.toError(), item.url.path()});
    }
    if (matches) {
        FileSystemItem found = item;
        // Only what may be deleted later pays for the birth time that tells a reused inode apart
        // (where the walk's record lacks it).
        found.metadata = velmor::withBirthTime(found.url, found.metadata);
        if (foundItemCallback_) {
            foundItemCallback_(found);
        }
        const std::int64_t size = roundedSize(found.metadata);
        addNode(FileSystemNode::item(std::move(found)));
        if (!currentFolderNodeStack.empty()) {
            currentFolderNodeStack.back().add(size);
        }
    }
    if (processedItemCallback_) {
        processedItemCallback_();
    }
}

void IteratorAnalysis::addNode(FileSystemNode node) {
    if (currentFolderNodeStack.empty()) {
        rootNodes.push_back(std::move(node));
    } else {
        currentFolderNodeStack.back().nodes.push_back(std::move(node));
    }
}

} // namespace sweepkit
