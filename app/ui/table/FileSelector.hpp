#pragma once

#include "app/model/cleaner/ErrorStore.hpp"
#include "app/model/nodes/CleanableNode.hpp"
#include "app/model/nodes/SelectionChange.hpp"
#include "app/ui/table/FileTableColumn.hpp"
#include "platform/fs/URL.hpp"

#include <QItemSelection>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>

class QMenu;
class QTreeView;

namespace marrowdale {

class FileTableModel;
class LegacyOutlineView;
class ObservationBridge;
class SortArrowStyle;

// Where the ids of the selected rows live: read when the view is made and when the owner says they
// changed, told each change the user makes to them. The revision grows with every change of the ids,
// so the view knows its own change coming back without comparing the whole selection.
struct SelectionBinding {
    std::function<const std::unordered_set<std::string>&()> get;
    std::function<void(const SelectionChange&)> change;
    std::function<std::uint64_t()> revision;
};

// A category's result as a tree of names, sizes and last-opened dates, sorted by the column the
// user clicked, where the user selects what to clean, sees which rows failed to delete, and reveals
// an entry in the file manager. Shown as a table with a sortable header, or as the outline under a
// row of sort buttons.
class FileSelector : public QWidget {
public:
    enum class Presentation { table, outline };

    FileSelector(CleanableNodes result, std::shared_ptr<ErrorStore> errorStore, SelectionBinding selection,
                 Presentation presentation = Presentation::table, QWidget* parent = nullptr);
    ~FileSelector() override;

    // Shows a new node list: rows are made anew, open rows stay open by id, the selection stays.
    void setResult(CleanableNodes result);
    // Shows the ids the binding holds now, after the owner changed them.
    void refreshSelection();

    const FileRowSortOrder& sortOrder() const;
    // Sorts by `order`, as if the header had been clicked to it.
    void setSortOrder(FileRowSortOrder order);
    // The ids of the open folder rows.
    std::unordered_set<std::string> openIds() const;
    // Opens the folder rows of `ids` that are shown, level by level.
    void open(const std::unordered_set<std::string>& ids);
    // The header's rule: the first column flips its direction, another sorts ascending.
    void applyHeaderSort(const FileRowComparator& clicked);

    // The rows a context menu on `clicked` is for: the selection when it holds the row, else the row.
    std::unordered_set<std::string> contextMenuIds(const QModelIndex& clicked) const;
    // The menu for those rows: the reveal item when they come down to one entry with a location.
    std::unique_ptr<QMenu> makeContextMenu(const std::unordered_set<std::string>& ids);
    // A failure is told in a message box over `alertParent`.
    static void revealInFinder(const velmor::URL& url, QWidget* alertParent = nullptr);

    Presentation presentation() const { return presentation_; }
    QTreeView& view() const { return *view_; }
    FileTableModel& model() const { return *model_; }
    // Only in the outline presentation.
    LegacyOutlineView* outline() const { return outline_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void configureView();
    void viewSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected);
    // Selects the shown ids' rows below `parent`. With `replace` (and an invalid parent), the levels
    // holding every shown id are made first and the view's selection becomes exactly their rows, so
    // that what the view highlights, open or closed, is what the ids hold.
    void showSelection(const QModelIndex& parent, bool replace);
    void reopen(const std::unordered_set<std::string>& openIds, const QModelIndex& parent);
    // The binding's ids now, and the revision they are at.
    void takeBindingIds();
    void showContextMenu(const QPoint& position);
    void showSortOrder();
    void updateBackground();

    Presentation presentation_;
    SelectionBinding selection_;
    // The ids as the view shows them; rows not made yet keep theirs.
    std::unordered_set<std::string> shownIds_;
    std::shared_ptr<ErrorStore> errorStore_;
    FileTableModel* model_;
    QTreeView* view_ = nullptr;
    // The view's viewport, whose right-button presses are held back.
    const QObject* viewport_ = nullptr;
    LegacyOutlineView* outline_ = nullptr;
    std::unique_ptr<ObservationBridge> errorBridge_;
    // The table header's; outlives the view, which the destructor deletes first.
    std::unique_ptr<SortArrowStyle> headerStyle_;
    // Set while the view's selection is changed from the ids, so it is not written back.
    bool showingSelection_ = false;
    // The binding's revision when the shown ids were last the binding's.
    std::uint64_t seenRevision_ = 0;
};

} // namespace marrowdale
