#pragma once

#include "app/model/cleaner/CategoryResult.hpp"
#include "app/model/cleaner/ErrorStore.hpp"
#include "foundation/core/log/Logger.hpp"
#include "sdk/finder/cleaning/FileCleaner.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace marrowdale {

// What a category cleaner tells its owner, on the main thread: `isStillCurrent` says whether
// failures should still be recorded (not once a new scan has replaced the clean), and `didPrune`
// follows every change made to the rows on show.
struct CategoryCleanerHooks {
    std::function<bool()> isStillCurrent = [] { return true; };
    std::function<void()> didPrune = [] {};
};

// Deletes the selected part of one category's result, item by item, and gives back what is left.
// What could not be deleted stays, with its failure recorded under the selected row that held it.
//
// Runs on a task of its own and waits there for the deletions; every read and change of the rows
// and of the error store happens on the main thread.
class CategoryCleaner {
public:
    using Hooks = CategoryCleanerHooks;

    CategoryCleaner(CategoryResult result, std::vector<velmor::URL> baseFindURLs,
                    std::shared_ptr<ErrorStore> errorStore, std::shared_ptr<const velmor::Logger> logger,
                    Hooks hooks = {});

    CategoryResult clean(const std::unordered_set<std::string>& selectedIds);

    // One selected row: its uncleaned remainder, or nothing when all of it went.
    CleanableNodePtr clean(const CleanableNodePtr& node, const sweepkit::FileCleaner& fileCleaner,
                           const CleanableNodePtr& rootNode);
    std::optional<sweepkit::FileSystemNode> clean(const sweepkit::FileSystemNode& node,
                                                  const sweepkit::FileCleaner& fileCleaner,
                                                  const CleanableNodePtr& rootNode);
    // The item when it was not deleted.
    std::optional<sweepkit::FileSystemItem> clean(const sweepkit::FileSystemItem& item,
                                                  const sweepkit::FileCleaner& fileCleaner,
                                                  const CleanableNodePtr& rootNode);

    // The failure recorded for an item whose path now holds another entry than the scan found.
    static velmor::Error changedSinceScanError(const std::string& path);

private:
    void record(const velmor::Error& error, const sweepkit::FileSystemItem& item,
                const CleanableNodePtr& rootNode);

    CategoryResult result_;
    std::vector<velmor::URL> baseFindURLs_;
    std::shared_ptr<ErrorStore> errorStore_;
    std::shared_ptr<const velmor::Logger> logger_;
    std::shared_ptr<const Hooks> hooks_;
};

} // namespace marrowdale
