#pragma once

#include "app/model/categories/Category.hpp"
#include "app/model/cleaner/CategoryResult.hpp"
#include "app/model/cleaner/ErrorStore.hpp"
#include "app/model/definitions/CategoryDefinitions.hpp"
#include "app/model/nodes/SelectedSizeTracker.hpp"
#include "app/model/nodes/SelectionChange.hpp"
#include "app/model/observation/ObservableObject.hpp"
#include "foundation/core/log/Logger.hpp"
#include "platform/bundle/Bundle.hpp"
#include "platform/concurrency/Task.hpp"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace marrowdale {

// The application's model: the definitions, the three categories, what the last scan found, the
// user's selection, the startup volume's figures and the failures of the last clean. It scans and
// cleans on tasks it holds in `currentRun`; stopping is cancelling that task.
//
// Lives on the main thread: every member is used there only, and subscribers are told there of
// every change of a published property (state, volume figures, selection).
class Cleaner : public ObservableObject, public std::enable_shared_from_this<Cleaner> {
public:
    using CleanerError = marrowdale::CleanerError;
    using ErrorStore = marrowdale::ErrorStore;
    using Results = std::map<Category, CategoryResult>;

    struct State {
        enum class Kind { cleaning, scanned, stopped, scanning };
        Kind kind = Kind::stopped;
        // The results on show, in `cleaning` and `scanned`.
        Results results;

        static State stopped() { return {Kind::stopped, {}}; }
        static State scanning() { return {Kind::scanning, {}}; }
        static State scanned(Results results) { return {Kind::scanned, std::move(results)}; }
        static State cleaning(Results results) { return {Kind::cleaning, std::move(results)}; }
    };

    // Loads the definitions from `bundle` (logging a failure and going on with none) and starts
    // reading the volume figures, which appear once the main thread gets to it.
    static std::shared_ptr<Cleaner> make(const velmor::LoggerFactory& loggerFactory,
                                         const velmor::Bundle& bundle = velmor::Bundle::main());

    const State& state() const { return state_; }
    const std::vector<Category>& categories() const { return categories_; }
    const velmor::AnyTask& currentRun() const { return currentRun_; }
    const std::optional<std::string>& mainVolumeName() const { return mainVolumeName_; }
    std::optional<std::int64_t> volumeAvailableCapacityForImportantUsage() const {
        return volumeAvailableCapacityForImportantUsage_;
    }
    std::optional<std::int64_t> volumeTotalCapacity() const { return volumeTotalCapacity_; }
    const std::map<Category, std::unordered_set<std::string>>& selectedCleanableItemsIdsByCategory() const {
        return selectedIds_;
    }
    // The ids selected in `category` (none when it has none).
    const std::unordered_set<std::string>& selectedIds(Category category) const;
    void setSelectedIds(Category category, std::unordered_set<std::string> ids);
    // Adds and takes away the ids of `change`, at the cost of the change.
    void changeSelectedIds(Category category, const SelectionChange& change);
    // Grows with every change of the selection, so a reader can tell a change from its own cheaply.
    std::uint64_t selectionRevision() const { return selectionRevision_; }
    const std::vector<FileFinderCategory>& fileFinderCategories() const { return fileFinderCategories_; }
    const std::shared_ptr<const velmor::Logger>& logger() const { return logger_; }
    const std::shared_ptr<ErrorStore>& errorStore() const { return errorStore_; }

    // Starts a scan of every category, cancelling whatever runs.
    void scan();
    // Starts deleting the selection; only when results are on show.
    void clean();

    std::unordered_set<std::string> allSelectedIds() const;
    // Whether any category has a row selected.
    bool hasSelection() const;
    // The bytes that cleaning the selection would free, as `selectedSize(allSelectedNodes())`
    // gives them, kept up to date with each change of the selection at the cost of that change;
    // 0 unless scanned.
    std::int64_t selectedSize() const;
    // The selected rows of every category that scanned well, each taken whole; none unless scanned.
    CleanableNodes allSelectedNodes() const;
    void updateVolumeInfo();

private:
    friend class velmor::MainActor;
    Cleaner(std::shared_ptr<const velmor::Logger> logger, std::vector<FileFinderCategory> definitions);

    void setState(State state);
    // Whether the run numbered `run` is still the one in `currentRun`: only that one may show its
    // outcome, so a run that was replaced cannot overwrite the state of the run that replaced it.
    bool isCurrent(std::uint64_t run) const { return run == runNumber_; }

    State state_;
    std::vector<Category> categories_ = allCategories();
    velmor::AnyTask currentRun_;
    std::uint64_t runNumber_ = 0;
    std::optional<std::string> mainVolumeName_;
    std::optional<std::int64_t> volumeAvailableCapacityForImportantUsage_;
    std::optional<std::int64_t> volumeTotalCapacity_;
    std::map<Category, std::unordered_set<std::string>> selectedIds_;
    std::uint64_t selectionRevision_ = 0;
    // Follows the selection over the results while scanned.
    SelectedSizeTracker selectedSize_;
    std::vector<FileFinderCategory> fileFinderCategories_;
    std::shared_ptr<const velmor::Logger> logger_;
    std::shared_ptr<ErrorStore> errorStore_;
};

} // namespace marrowdale
