#include "app/ui/table/FileSelector.hpp"

#include "app/model/nodes/Selection.hpp"
#include "app/ui/observation/ObservationBridge.hpp"
#include "app/ui/table/FileManagerReveal.hpp"
#include "app/ui/table/FileTableModel.hpp"
#include "app/ui/table/LegacyOutlineView.hpp"
#include "app/ui/table/NameCellDelegate.hpp"
#include "app/ui/table/SortArrowStyle.hpp"
#include "app/ui/text/Localized.hpp"

#include <QEvent>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QTreeView>
#include <QVBoxLayout>

namespace marrowdale {

namespace {

constexpr int nameColumn = static_cast<int>(FileTableColumn::name);

// Each row of the ranges once (a range spans the columns of its rows).
template <typename Visit> void forEachRow(const QItemSelection& selection, Visit visit) {
    for (const auto& range : selection) {
        for (int row = range.top(); row <= range.bottom(); ++row) {
            visit(range.model()->index(row, nameColumn, range.parent()));
        }
    }
}

} // namespace

FileSelector::FileSelector(CleanableNodes result, std::shared_ptr<ErrorStore> errorStore,
                           SelectionBinding selection, Presentation presentation, QWidget* parent)
    : QWidget(parent), presentation_(presentation), selection_(std::move(selection)),
      errorStore_(std::move(errorStore)), model_(new FileTableModel(errorStore_, this)) {
    model_->setResult(std::move(result));
    takeBindingIds();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    if (presentation_ == Presentation::outline) {
        outline_ = new LegacyOutlineView(
            *model_, [this](const FileRowComparator& clicked) { applyHeaderSort(clicked); }, this);
        view_ = &outline_->view();
        layout->addWidget(outline_);
    } else {
        view_ = new QTreeView(this);
        view_->setModel(model_);
        layout->addWidget(view_);
    }
    configureView();
    showSortOrder();
    showSelection({}, true);

    // Badges are looked up again after the error store changed, once however often it published.
    errorBridge_ = std::make_unique<ObservationBridge>([this] { model_->forgetBadges(); });
    if (errorStore_) {
        errorBridge_->observe(errorStore_);
    }
}

// The view goes before the header style it is drawn with.
FileSelector::~FileSelector() {
    if (outline_) {
        delete outline_;
    } else {
        delete view_;
    }
}

void FileSelector::configureView() {
    view_->setUniformRowHeights(true);
    view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setIconSize(QSize(NameCellDelegate::iconSize, NameCellDelegate::iconSize));
    view_->setItemDelegateForColumn(nameColumn, new NameCellDelegate(view_));
    view_->setAllColumnsShowFocus(true);
    view_->setSortingEnabled(false); // the model sorts, by our own rule

    if (presentation_ == Presentation::table) {
        auto* header = view_->header();
        headerStyle_ = std::make_unique<SortArrowStyle>();
        header->setStyle(headerStyle_.get());
        header->setSectionsClickable(true);
        header->setSortIndicatorShown(true);
        header->setSectionsMovable(false);
        header->setStretchLastSection(false);
        header->setSectionResizeMode(nameColumn, QHeaderView::Stretch);
        for (auto column : {FileTableColumn::size, FileTableColumn::lastOpened}) {
            header->setSectionResizeMode(static_cast<int>(column), QHeaderView::Interactive);
            header->resizeSection(static_cast<int>(column), 150);
        }
        connect(header, &QHeaderView::sectionClicked, this, [this](int section) {
            applyHeaderSort(columnComparator(static_cast<FileTableColumn>(section)));
        });
        view_->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(view_, &QWidget::customContextMenuRequested, this, &FileSelector::showContextMenu);
    }
    // The right button only opens the menu: were it to select, what will be deleted would change
    // under the user's hand, unseen behind the menu.
    view_->viewport()->installEventFilter(this);
    viewport_ = view_->viewport();
    connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &FileSelector::viewSelectionChanged);
    // Rows made when a folder opens show whether the ids hold them.
    connect(view_, &QTreeView::expanded, this,
            [this](const QModelIndex& index) { showSelection(index, false); });
    updateBackground();
}

bool FileSelector::eventFilter(QObject* watched, QEvent* event) {
    // Compared by address only: the view may be going, and calls on it would find half an object.
    if (watched == viewport_) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
            if (static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) {
                return true; // the context menu event still follows
            }
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void FileSelector::updateBackground() {
    // Dark: the window's background shows through the rows; light: the view's own base.
    const bool dark = palette().color(QPalette::Window).lightness() < 128;
    QPalette colors = view_->palette();
    colors.setColor(QPalette::Base, dark ? QColor(Qt::transparent) : palette().color(QPalette::Base));
    view_->setPalette(colors);
    view_->viewport()->setAutoFillBackground(!dark);
}

std::unordered_set<std::string> FileSelector::openIds() const {
    std::unordered_set<std::string> ids;
    model_->forEachBuiltRow([&](const QModelIndex& index, CleanableNode& node) {
        if (view_->isExpanded(index)) {
            ids.insert(node.id());
        }
    });
    return ids;
}

void FileSelector::open(const std::unordered_set<std::string>& ids) {
    if (!ids.empty()) {
        reopen(ids, {});
    }
}

void FileSelector::setResult(CleanableNodes result) {
    const std::unordered_set<std::string> wasOpen = openIds();
    showingSelection_ = true;
    model_->setResult(std::move(result));
    showingSelection_ = false;
    open(wasOpen);
    showSelection({}, true);
}

void FileSelector::reopen(const std::unordered_set<std::string>& openIds, const QModelIndex& parent) {
    // Only the levels that were open are made again.
    const int rows = model_->rowCount(parent);
    for (int row = 0; row < rows; ++row) {
        QModelIndex index = model_->index(row, nameColumn, parent);
        if (model_->hasChildren(index) && openIds.contains(model_->node(index)->id())) {
            view_->expand(index);
            reopen(openIds, index);
        }
    }
}

void FileSelector::takeBindingIds() {
    if (selection_.get) {
        shownIds_ = selection_.get();
    }
    if (selection_.revision) {
        seenRevision_ = selection_.revision();
    }
}

void FileSelector::refreshSelection() {
    if (selection_.revision) {
        if (selection_.revision() == seenRevision_) {
            return; // our own change, coming back
        }
    } else if (!selection_.get || selection_.get() == shownIds_) {
        return;
    }
    takeBindingIds();
    showSelection({}, true);
}

void FileSelector::showSelection(const QModelIndex& parent, bool replace) {
    // A level is made when the view first asks for it, which a view not laid out yet has not done:
    // make it here, so the rows of the ids can be selected whether or not the view has asked.
    model_->rowCount(parent);
    if (replace && !parent.isValid()) {
        model_->makeLevelsHolding(shownIds_);
    }
    const QItemSelection rows = model_->selectionOf(shownIds_, parent, replace);
    showingSelection_ = true;
    if (replace) {
        view_->selectionModel()->select(rows, QItemSelectionModel::ClearAndSelect);
    } else if (!rows.isEmpty()) {
        view_->selectionModel()->select(rows, QItemSelectionModel::Select);
    }
    showingSelection_ = false;
}

void FileSelector::viewSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
    if (showingSelection_) {
        return;
    }
    SelectionChange change;
    forEachRow(deselected, [&](const QModelIndex& index) {
        auto id = model_->node(index)->id();
        if (shownIds_.erase(id) > 0) {
            change.removed.push_back(std::move(id));
        }
    });
    forEachRow(selected, [&](const QModelIndex& index) {
        auto id = model_->node(index)->id();
        if (shownIds_.insert(id).second) {
            change.added.push_back(std::move(id));
        }
    });
    if (change.empty()) {
        return;
    }
    if (selection_.change) {
        selection_.change(change);
    }
    if (selection_.revision) {
        seenRevision_ = selection_.revision();
    }
}

const FileRowSortOrder& FileSelector::sortOrder() const {
    return model_->sortOrder();
}

void FileSelector::applyHeaderSort(const FileRowComparator& clicked) {
    auto order = model_->sortOrder();
    marrowdale::applyHeaderSort(order, clicked);
    setSortOrder(std::move(order));
}

void FileSelector::setSortOrder(FileRowSortOrder order) {
    // Kept ranges would point at the rows' old positions: drop them, sort, and select the ids again.
    showingSelection_ = true;
    view_->selectionModel()->clearSelection();
    showingSelection_ = false;
    model_->setSortOrder(std::move(order));
    showSelection({}, true);
    showSortOrder();
}

void FileSelector::showSortOrder() {
    const auto& order = model_->sortOrder();
    if (outline_) {
        outline_->showSortOrder(order);
        return;
    }
    const auto first = order.empty() ? std::nullopt : columnOf(order.front());
    if (!first) {
        view_->header()->setSortIndicator(-1, Qt::AscendingOrder);
        return;
    }
    view_->header()->setSortIndicator(static_cast<int>(*first), order.front().order() == SortOrder::forward
                                                                    ? Qt::AscendingOrder
                                                                    : Qt::DescendingOrder);
}

std::unordered_set<std::string> FileSelector::contextMenuIds(const QModelIndex& clicked) const {
    const std::string id = model_->node(clicked)->id();
    if (shownIds_.contains(id)) {
        return shownIds_;
    }
    return {id};
}

std::unique_ptr<QMenu> FileSelector::makeContextMenu(const std::unordered_set<std::string>& ids) {
    auto menu = std::make_unique<QMenu>(this);
    const auto nodes = selectedNodes(ids, model_->result());
    if (nodes.size() == 1) {
        if (auto url = nodes.front()->url()) {
            menu->addAction(localized("FileSelector.ContextMenu.RevealInFinder"), this,
                            [this, url = *url] { revealInFinder(url, this); });
        }
    }
    return menu;
}

void FileSelector::showContextMenu(const QPoint& position) {
    const QModelIndex clicked = view_->indexAt(position);
    if (!clicked.isValid()) {
        return;
    }
    auto menu = makeContextMenu(contextMenuIds(clicked));
    if (!menu->actions().isEmpty()) {
        menu->exec(view_->viewport()->mapToGlobal(position));
    }
}

void FileSelector::revealInFinder(const velmor::URL& url, QWidget* alertParent) {
    revealInFileManager(url, QDBusConnection::sessionBus(), alertParent);
}

} // namespace marrowdale
