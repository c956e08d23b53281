#pragma once

#include "app/model/cleaner/Cleaner.hpp"
#include "app/ui/table/FileTableColumn.hpp"

#include <QWidget>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

class QGroupBox;
class QLabel;
class QProgressBar;
class QStackedLayout;

namespace marrowdale {

class FileSelector;
class FileSelectorGroupBoxStyle;
class ObservationBridge;

// The panel in the middle of the home screen: for the category on show, the explanation before a
// scan, a progress bar while scanning, the category's error, or its files to select from.
class MainBox : public QWidget {
public:
    enum class Content { explanation, progress, error, table };

    MainBox(std::shared_ptr<Cleaner> cleaner, Category displayedCategory, QWidget* parent = nullptr);
    ~MainBox() override;

    void setDisplayedCategory(Category category);
    Category displayedCategory() const { return displayedCategory_; }

    // What the box shows of `category` in `state`.
    static Content contentFor(const Cleaner::State& state, Category category);

    Content content() const;
    QLabel& explanation() const { return *explanation_; }
    QLabel& failure() const { return *failure_; }
    QProgressBar& progress() const { return *progress_; }
    // Over the table while cleaning.
    QProgressBar& cleaningProgress() const { return *cleaningProgress_; }
    // The table of the category on show; none unless its results are on show.
    FileSelector* fileSelector() const { return fileSelector_; }
    // Draws pending changes of the cleaner now.
    void flush();

private:
    // What the table was made from; a new one is made only when this changes, never for a change of
    // the selection alone, which would close every open folder on each click.
    struct TableKey {
        Cleaner::State::Kind kind;
        Category category;
        std::vector<const CleanableNode*> nodes;
        bool operator==(const TableKey&) const = default;
    };

    // How the user left a category's table: its next table, after a switch or a clean, shows the
    // same order and opens the same folders.
    struct TableView {
        FileRowSortOrder sortOrder = initialFileSortOrder();
        std::unordered_set<std::string> openIds;
    };

    void refresh();
    void showTable(const CleanableNodes& nodes, bool cleaning);
    void dropTable();

    std::shared_ptr<Cleaner> cleaner_;
    Category displayedCategory_;
    std::unique_ptr<FileSelectorGroupBoxStyle> boxStyle_;
    QGroupBox* box_;
    QStackedLayout* pages_;
    QLabel* explanation_;
    QProgressBar* progress_;
    QLabel* failure_;
    QWidget* tablePage_;
    QProgressBar* cleaningProgress_;
    FileSelector* fileSelector_ = nullptr;
    std::optional<TableKey> tableKey_;
    std::map<Category, TableView> tableViews_;
    ObservationBridge* bridge_;
};

} // namespace marrowdale
