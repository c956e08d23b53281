#include "app/model/cleaner/CategoryCleaner.hpp"

#include "app/model/nodes/Selection.hpp"
#include "platform/concurrency/CheckedContinuation.hpp"
#include "platform/concurrency/MainActor.hpp"
#include "platform/fs/FileRemover.hpp"
#include "sdk/finder/records/RoundedSize.hpp"
#include "sdk/finder/records/SaturatingSum.hpp"

#include <algorithm>

namespace marrowdale {

using sweepkit::FileSystemItem;
using sweepkit::FileSystemNode;
using velmor::MainActor;

namespace {

// What the failure of an item's deletion is shown as: the file cleaner's refusal of an entry that is
// no longer the one the scan found is told in the words the user knows.
velmor::Error shownError(const sweepkit::ProcessingError& failure) {
    if (failure.error.domain() == velmor::FileRemover::errorDomain &&
        failure.error.code() == velmor::FileRemover::changedEntryCode) {
        return CategoryCleaner::changedSinceScanError(failure.path);
    }
    return failure.error;
}

std::int64_t sizeBelow(const std::vector<FileSystemNode>& nodes) {
    std::int64_t size = 0;
    for (const auto& node : nodes) {
        size =
            sweepkit::saturatingAdd(size, node.asFolder() ? node.asFolder()->contentSize
                                                          : sweepkit::roundedSize(node.asItem()->metadata));
    }
    return size;
}

} // namespace

CategoryCleaner::CategoryCleaner(CategoryResult result, std::vector<velmor::URL> baseFindURLs,
                                 std::shared_ptr<ErrorStore> errorStore,
                                 std::shared_ptr<const velmor::Logger> logger, Hooks hooks)
    : result_(std::move(result)), baseFindURLs_(std::move(baseFindURLs)), errorStore_(std::move(errorStore)),
      logger_(std::move(logger)), hooks_(std::make_shared<const Hooks>(std::move(hooks))) {}

velmor::Error CategoryCleaner::changedSinceScanError(const std::string& path) {
    return velmor::Error("Marrowdale.CategoryCleaner", 0,
                         {{velmor::Error::localizedDescriptionKey,
                           std::string("The file changed since the scan, so it was not deleted.")},
                          {velmor::Error::filePathKey, path}});
}

void CategoryCleaner::record(const velmor::Error& error, const FileSystemItem& item,
                             const CleanableNodePtr& rootNode) {
    MainActor::run([&] {
        if (hooks_->isStillCurrent()) {
            errorStore_->record(error, item, *rootNode);
        }
    });
}

CategoryResult CategoryCleaner::clean(const std::unordered_set<std::string>& selectedIds) {
    if (std::holds_alternative<velmor::Error>(result_)) {
        logger_->debug([] { return std::string("Result is not success, returing uncleaned result"); });
        return result_;
    }
    CleanableNodes nodes = std::get<CleanableNodes>(result_);
    CleanableNodes toClean = MainActor::run([&] { return selectedNodes(selectedIds, nodes); });
    logger_->debug([&] { return "Total nodes: " + std::to_string(nodes.size()); });
    if (toClean.empty()) {
        logger_->debug([] { return std::string("No node to clean, returning uncleaned result"); });
        return nodes;
    }
    logger_->debug([&] { return "Nodes to clean: " + std::to_string(toClean.size()); });

    const sweepkit::FileCleaner fileCleaner;
    std::vector<CleanedNode> cleaned;
    std::size_t pruned = 0;
    auto prune = [&] {
        MainActor::run([&] {
            pruneCleanedNodes(cleaned, nodes);
            hooks_->didPrune();
            pruned += cleaned.size();
            cleaned.clear(); // rows are let go of on the main thread, where they live
        });
    };
    for (const auto& node : toClean) {
        cleaned.push_back(CleanedNode{node, clean(node, fileCleaner, node)});
        // Cleaned rows leave the view in batches that double in size: the first go at once, and
        // however many rows were selected, the forest is walked only a logarithmic number of times.
        if (cleaned.size() >= std::max<std::size_t>(pruned, 1)) {
            prune();
        }
    }
    if (!cleaned.empty()) {
        prune();
    }
    return MainActor::run([&] {
        toClean.clear();
        return CategoryResult(std::move(nodes));
    });
}

CleanableNodePtr CategoryCleaner::clean(const CleanableNodePtr& node,
                                        const sweepkit::FileCleaner& fileCleaner,
                                        const CleanableNodePtr& rootNode) {
    const auto& payload = node->payload();
    if (auto item = std::get_if<FileSystemItem>(&payload)) {
        auto rest = clean(*item, fileCleaner, rootNode);
        return rest ? CleanableNode::item(*rest) : nullptr;
    }
    if (auto tree = std::get_if<FileSystemNode>(&payload)) {
        auto rest = clean(*tree, fileCleaner, rootNode);
        return rest ? CleanableNode::node(*rest) : nullptr;
    }
    const auto& whole = std::get<CleanableNode::NonBrowsableResult>(payload);
    std::vector<FileSystemNode> kept;
    for (const auto& part : whole.result.nodes) {
        if (auto rest = clean(part, fileCleaner, rootNode)) {
            kept.push_back(std::move(*rest));
        }
    }
    if (kept.empty()) {
        return nullptr;
    }
    sweepkit::AnalysisResult remainder{std::move(kept), whole.result.errors, false, whole.result.cancelled};
    return CleanableNode::nonBrowsableResult(whole.category, std::move(remainder));
}

std::optional<FileSystemNode> CategoryCleaner::clean(const FileSystemNode& node,
                                                     const sweepkit::FileCleaner& fileCleaner,
                                                     const CleanableNodePtr& rootNode) {
    if (auto item = node.asItem()) {
        auto rest = clean(*item, fileCleaner, rootNode);
        return rest ? std::optional(FileSystemNode::item(*rest)) : std::nullopt;
    }
    const auto& folder = *node.asFolder();
    std::vector<FileSystemNode> kept;
    for (const auto& child : folder.children) {
        if (auto rest = clean(child, fileCleaner, rootNode)) {
            kept.push_back(std::move(*rest));
        }
    }
    if (kept.empty()) {
        return std::nullopt;
    }
    // What is left below counts, not what the folder held before the clean.
    const std::int64_t remaining = sizeBelow(kept);
    return FileSystemNode::folder(folder.url, remaining, std::move(kept));
}

std::optional<FileSystemItem> CategoryCleaner::clean(const FileSystemItem& item,
                                                     const sweepkit::FileCleaner& fileCleaner,
                                                     const CleanableNodePtr& rootNode) {
    const std::string path = item.url.path();
    logger_->debug([&] { return "Cleaning file system item at: " + path; });
    return velmor::withCheckedContinuation<std::optional<FileSystemItem>>(
        "clean(fileSystemItem:with:baseFindURLs:rootNode:)",
        [&](velmor::CheckedContinuation<std::optional<FileSystemItem>> continuation) {
            try {
                // The progress is not followed: one item is quick, and a clean is never cancelled.
                // The entry goes only while its path still holds what the scan found.
                fileCleaner.clean(
                    {sweepkit::CleaningEntry{item.url, velmor::FileIdentity::of(item.metadata)}},
                    baseFindURLs_, false,
                    [continuation, item, rootNode, store = errorStore_,
                     hooks = hooks_](sweepkit::CleaningResult result) {
                        if (result.errors.empty()) {
                            continuation.resume(std::nullopt);
                            return;
                        }
                        MainActor::post(
                            [store, hooks, error = shownError(result.errors.front()), item, rootNode] {
                                if (hooks->isStillCurrent()) {
                                    store->record(error, item, *rootNode);
                                }
                            });
                        continuation.resume(item);
                    });
            } catch (...) {
                const velmor::Error error = velmor::errorFromException(std::current_exception());
                logger_->error([&] {
                    return "Could not clean file system item at: " + path + ": " + error.description();
                });
                record(error, item, rootNode);
                continuation.resume(item);
            }
        });
}

} // namespace marrowdale
