#pragma once

#include "app/model/nodes/CleanableNode.hpp"
#include "app/model/observation/ObservableObject.hpp"
#include "platform/error/Error.hpp"

#include <string>
#include <unordered_map>
#include <unordered_set>

namespace marrowdale {

// The failures of the last clean, for the rows to show. A failure is kept per item, and the
// selected row that contained the item becomes an error root: only error roots show an error.
// Lives on the main thread; subscribers hear of every change.
class ErrorStore : public ObservableObject {
public:
    const std::unordered_map<sweepkit::FileSystemItem, velmor::Error>& errors() const { return errors_; }
    const std::unordered_set<std::string>& errorRoots() const { return errorRoots_; }

    // Keeps `error` for `item` (replacing an earlier one) and marks `rootNode` as an error root.
    void record(const velmor::Error& error, const sweepkit::FileSystemItem& item, CleanableNode& rootNode);
    // The error to show on `node`'s row: for an error root, the first failure below it in row order.
    std::optional<velmor::Error> error(CleanableNode& node) const;
    // Forgets everything, as a new scan starts.
    void removeAll();

private:
    std::optional<velmor::Error> errorOf(const sweepkit::FileSystemNode& node) const;
    std::optional<velmor::Error> errorOf(const sweepkit::FileSystemItem& item) const;

    std::unordered_map<sweepkit::FileSystemItem, velmor::Error> errors_;
    std::unordered_set<std::string> errorRoots_;
};

} // namespace marrowdale
