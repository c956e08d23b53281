#include "app/ui/table/FileTableModel.hpp"

#include "app/ui/table/FileCells.hpp"
#include "app/ui/table/FileIcon.hpp"

#include <algorithm>

namespace marrowdale {

FileTableModel::FileTableModel(std::shared_ptr<ErrorStore> errorStore, QObject* parent)
    : QAbstractItemModel(parent), errorStore_(std::move(errorStore)) {}

FileTableModel::~FileTableModel() = default;

void FileTableModel::setResult(CleanableNodes result) {
    beginResetModel();
    top_.reset();
    badges_.clear();
    icons_.clear();
    result_ = std::move(result);
    endResetModel();
}

void FileTableModel::setSortOrder(FileRowSortOrder sortOrder) {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    sortOrder_ = std::move(sortOrder);
    if (top_) {
        sortBuiltLevels(*top_);
    }
    // Rows keep their addresses; only positions changed, rewritten in one pass by the sort.
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const auto& index : before) {
        Row* row = rowOf(index);
        after.append(createIndex(row->position, index.column(), row));
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void FileTableModel::forgetBadges() {
    badges_.clear();
    if (top_ && !top_->rows.empty()) {
        // One change per made level: the view redraws what it shows.
        std::function<void(const QModelIndex&, const Level&)> announce = [&](const QModelIndex& parent,
                                                                             const Level& level) {
            const int last = static_cast<int>(level.rows.size()) - 1;
            emit dataChanged(index(0, 0, parent), index(last, 0, parent), {badgeRole, Qt::ToolTipRole});
            for (const auto& row : level.rows) {
                if (row.children && !row.children->rows.empty()) {
                    announce(createIndex(row.position, 0, const_cast<Row*>(&row)), *row.children);
                }
            }
        };
        announce({}, *top_);
    }
}

CleanableNode* FileTableModel::node(const QModelIndex& index) const {
    return index.isValid() ? rowOf(index)->node.get() : nullptr;
}

bool FileTableModel::isLevelBuilt(const QModelIndex& parent) const {
    if (!parent.isValid()) {
        return top_ != nullptr;
    }
    return rowOf(parent)->children != nullptr;
}

FileTableModel::Level& FileTableModel::makeLevel(const CleanableNodes& nodes, Row* parent) const {
    auto level = std::make_unique<Level>();
    level->rows.reserve(nodes.size());
    for (const auto& node : nodes) {
        level->rows.push_back(Row{node, parent, 0, node->hasChildren(), nullptr});
    }
    sortLevel(*level);
    auto& slot = parent ? parent->children : top_;
    slot = std::move(level);
    return *slot;
}

void FileTableModel::sortLevel(Level& level) const {
    auto& rows = level.rows;
    level.sorted = sortedPositions<CleanableNode>(
        rows.size(), [&rows](std::size_t at) -> CleanableNode& { return *rows[at].node; }, sortOrder_);
    for (std::size_t position = 0; position < level.sorted.size(); ++position) {
        rows[level.sorted[position]].position = static_cast<int>(position);
    }
}

void FileTableModel::sortBuiltLevels(Level& level) {
    sortLevel(level);
    for (auto& row : level.rows) {
        if (row.children) {
            sortBuiltLevels(*row.children);
        }
    }
}

FileTableModel::Level* FileTableModel::levelOf(const QModelIndex& parent) const {
    if (!parent.isValid()) {
        return top_ ? top_.get() : &makeLevel(result_, nullptr);
    }
    Row* row = rowOf(parent);
    if (parent.column() != 0 || !row->canOpen) {
        return nullptr;
    }
    if (row->children) {
        return row->children.get();
    }
    const auto& children = row->node->children();
    return children ? &makeLevel(*children, row) : nullptr;
}

QModelIndex FileTableModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column < 0 || column >= fileTableColumnCount) {
        return {};
    }
    Level* level = levelOf(parent);
    if (!level || row >= static_cast<int>(level->rows.size())) {
        return {};
    }
    return createIndex(row, column, &level->rows[level->sorted[static_cast<std::size_t>(row)]]);
}

QModelIndex FileTableModel::parent(const QModelIndex& child) const {
    if (!child.isValid()) {
        return {};
    }
    Row* parentRow = rowOf(child)->parent;
    return parentRow ? createIndex(parentRow->position, 0, parentRow) : QModelIndex();
}

int FileTableModel::rowCount(const QModelIndex& parent) const {
    Level* level = levelOf(parent);
    return level ? static_cast<int>(level->rows.size()) : 0;
}

int FileTableModel::columnCount(const QModelIndex&) const {
    return fileTableColumnCount;
}

bool FileTableModel::hasChildren(const QModelIndex& parent) const {
    if (!parent.isValid()) {
        return !result_.empty();
    }
    return parent.column() == 0 && rowOf(parent)->canOpen;
}

Qt::ItemFlags FileTableModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (!rowOf(index)->canOpen) {
        flags |= Qt::ItemNeverHasChildren;
    }
    return flags;
}

std::optional<QString> FileTableModel::badge(const Row& row) const {
    auto found = badges_.find(&row);
    if (found == badges_.end()) {
        std::optional<QString> toolTip;
        if (auto error = errorStore_ ? errorStore_->error(*row.node) : std::nullopt) {
            toolTip = failedToDeleteToolTip(*error);
        }
        found = badges_.emplace(&row, std::move(toolTip)).first;
    }
    return found->second;
}

QVariant FileTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) {
        return {};
    }
    const Row& row = *rowOf(index);
    const auto column = static_cast<FileTableColumn>(index.column());
    switch (role) {
    case Qt::DisplayRole:
        switch (column) {
        case FileTableColumn::name:
            return nameCellText(*row.node);
        case FileTableColumn::size:
            return sizeCellText(*row.node);
        case FileTableColumn::lastOpened:
            return dateCellText(*row.node);
        }
        break;
    case Qt::DecorationRole:
        if (column == FileTableColumn::name) {
            auto found = icons_.find(&row);
            if (found == icons_.end()) {
                found = icons_.emplace(&row, fileIcon(*row.node)).first;
            }
            return found->second;
        }
        break;
    case Qt::ToolTipRole:
        if (column == FileTableColumn::name) {
            if (auto toolTip = badge(row)) {
                return *toolTip;
            }
        }
        break;
    case badgeRole:
        if (column == FileTableColumn::name) {
            return badge(row).has_value();
        }
        break;
    default:
        break;
    }
    return {};
}

QVariant FileTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= fileTableColumnCount) {
        return {};
    }
    return columnTitle(static_cast<FileTableColumn>(section));
}

QItemSelection FileTableModel::selectionOf(const std::unordered_set<std::string>& ids,
                                           const QModelIndex& parent, bool recursive) const {
    QItemSelection selection;
    if (ids.empty() || !isLevelBuilt(parent)) {
        return selection;
    }
    const Level& level = *levelOf(parent);
    std::vector<int> positions;
    for (const auto& row : level.rows) {
        if (ids.contains(row.node->id())) {
            positions.push_back(row.position);
        }
    }
    std::sort(positions.begin(), positions.end());
    for (std::size_t first = 0; first < positions.size();) {
        std::size_t last = first;
        while (last + 1 < positions.size() && positions[last + 1] == positions[last] + 1) {
            ++last;
        }
        selection.append(QItemSelectionRange(index(positions[first], 0, parent),
                                             index(positions[last], fileTableColumnCount - 1, parent)));
        first = last + 1;
    }
    if (recursive) {
        for (const auto& row : level.rows) {
            if (row.children) {
                selection.append(
                    selectionOf(ids, createIndex(row.position, 0, const_cast<Row*>(&row)), true));
            }
        }
    }
    return selection;
}

void FileTableModel::makeLevelsHolding(const std::unordered_set<std::string>& ids) const {
    if (ids.empty()) {
        return;
    }
    // Every made row by id; a path's row lies below the rows of the folders it is in, so the
    // nearest folder found on its way is opened until the row itself is found or no folder is.
    std::unordered_map<std::string, Row*> rows;
    const auto addLevel = [&rows](Level& level) {
        for (auto& row : level.rows) {
            rows.try_emplace(row.node->id(), &row);
        }
    };
    std::vector<Level*> pending{levelOf({})};
    while (!pending.empty()) {
        Level* level = pending.back();
        pending.pop_back();
        addLevel(*level);
        for (auto& row : level->rows) {
            if (row.children) {
                pending.push_back(row.children.get());
            }
        }
    }
    for (const auto& id : ids) {
        while (!rows.contains(id) && id.starts_with('/')) {
            Row* nearest = nullptr;
            for (std::size_t slash = id.rfind('/'); slash != std::string::npos && slash > 0 && !nearest;
                 slash = id.rfind('/', slash - 1)) {
                if (const auto found = rows.find(id.substr(0, slash)); found != rows.end()) {
                    nearest = found->second;
                }
            }
            if (!nearest || nearest->children || !nearest->canOpen) {
                break; // no row of this id in the result
            }
            Level* made = levelOf(createIndex(nearest->position, 0, nearest));
            if (!made) {
                break;
            }
            addLevel(*made);
        }
    }
}

void FileTableModel::forEachBuiltRow(const std::function<void(const QModelIndex&, CleanableNode&)>& visit,
                                     const QModelIndex& parent) const {
    if (!isLevelBuilt(parent)) {
        return;
    }
    const Level& level = *levelOf(parent);
    for (auto position : level.sorted) {
        const Row& row = level.rows[position];
        QModelIndex at = createIndex(row.position, 0, const_cast<Row*>(&row));
        visit(at, *row.node);
        if (row.children) {
            forEachBuiltRow(visit, at);
        }
    }
}

} // namespace marrowdale
