#pragma once

#include "app/model/cleaner/ErrorStore.hpp"
#include "app/model/nodes/CleanableNode.hpp"
#include "app/ui/table/FileTableColumn.hpp"

#include <QAbstractItemModel>
#include <QIcon>
#include <QItemSelection>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace marrowdale {

// The rows of a category's result tree for a view, every level sorted by the current order. A
// level's rows are made and sorted when the view first asks for them; a row knows its parent and
// its position, so finding an index's parent costs nothing, and whether it can open, so asking
// that never makes its children. Sort keys are read anew at each sort.
//
// Lives on the main thread with the nodes it shows.
class FileTableModel : public QAbstractItemModel {
    Q_OBJECT

public:
    enum Role {
        // Whether the name cell carries the failed-deletion badge (bool).
        badgeRole = Qt::UserRole + 1,
    };

    explicit FileTableModel(std::shared_ptr<ErrorStore> errorStore, QObject* parent = nullptr);
    ~FileTableModel() override;

    // Shows `result`, in model order; every row is made anew.
    void setResult(CleanableNodes result);
    const CleanableNodes& result() const { return result_; }

    // Sorts every level made so far, as one layout change; indexes kept by views follow their rows.
    void setSortOrder(FileRowSortOrder sortOrder);
    const FileRowSortOrder& sortOrder() const { return sortOrder_; }

    // Forgets the badges looked up so far, after the error store changed.
    void forgetBadges();

    CleanableNode* node(const QModelIndex& index) const;
    // Whether the rows below `parent` have been made.
    bool isLevelBuilt(const QModelIndex& parent) const;
    // The rows below `parent` (the top level when invalid) whose ids are in `ids`, as ranges of
    // adjacent rows over every column. With `recursive`, the levels below that were made too.
    QItemSelection selectionOf(const std::unordered_set<std::string>& ids, const QModelIndex& parent = {},
                               bool recursive = true) const;
    // Makes the levels on the way to the rows of `ids`, so that every row an id names has an index
    // the view's selection can hold, whether its folder is open or not. A level is made once.
    void makeLevelsHolding(const std::unordered_set<std::string>& ids) const;
    // Calls `visit` for each made row below `parent`, in view order, parents before children.
    void forEachBuiltRow(const std::function<void(const QModelIndex&, CleanableNode&)>& visit,
                         const QModelIndex& parent = {}) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    struct Level;
    struct Row {
        CleanableNodePtr node;
        Row* parent = nullptr;
        int position = 0;
        bool canOpen = false;
        std::unique_ptr<Level> children;
    };
    struct Level {
        // In model order; never moved once made, so rows keep their addresses.
        std::vector<Row> rows;
        // The model-order index of the row shown at each position.
        std::vector<std::uint32_t> sorted;
    };

    Row* rowOf(const QModelIndex& index) const { return static_cast<Row*>(index.internalPointer()); }
    Level* levelOf(const QModelIndex& parent) const;
    Level& makeLevel(const CleanableNodes& nodes, Row* parent) const;
    void sortLevel(Level& level) const;
    void sortBuiltLevels(Level& level);
    std::optional<QString> badge(const Row& row) const;

    std::shared_ptr<ErrorStore> errorStore_;
    CleanableNodes result_;
    FileRowSortOrder sortOrder_ = initialFileSortOrder();
    mutable std::unique_ptr<Level> top_;
    mutable std::unordered_map<const Row*, std::optional<QString>> badges_;
    mutable std::unordered_map<const Row*, QIcon> icons_;
};

} // namespace marrowdale
