#include "app/ui/home/MainBox.hpp"

#include "app/ui/home/FileSelectorGroupBoxStyle.hpp"
#include "app/ui/observation/ObservationBridge.hpp"
#include "app/ui/table/FileSelector.hpp"
#include "app/ui/text/DisplayText.hpp"
#include "app/ui/text/Localized.hpp"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QStackedLayout>
#include <QVBoxLayout>

#include <variant>

namespace marrowdale {
namespace {

using Kind = Cleaner::State::Kind;

QProgressBar* makeProgressBar() {
    auto* bar = new QProgressBar;
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    bar->setMaximumWidth(100);
    return bar;
}

QWidget* centred(QWidget* content) {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content, 0, Qt::AlignCenter);
    return page;
}

} // namespace

MainBox::MainBox(std::shared_ptr<Cleaner> cleaner, Category displayedCategory, QWidget* parent)
    : QWidget(parent), cleaner_(std::move(cleaner)), displayedCategory_(displayedCategory),
      boxStyle_(std::make_unique<FileSelectorGroupBoxStyle>()), box_(new QGroupBox),
      explanation_(new QLabel(localized("Home.MainBox.ScanYourMac-Explanation"))),
      progress_(makeProgressBar()), failure_(new QLabel), tablePage_(new QWidget),
      cleaningProgress_(makeProgressBar()), bridge_(new ObservationBridge([this] { refresh(); }, this)) {
    setMinimumSize(640, 400);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    box_->setStyle(boxStyle_.get());
    box_->setFlat(true);

    explanation_->setWordWrap(true);
    explanation_->setAlignment(Qt::AlignCenter);
    // The description may hold a file's name: never read as markup.
    failure_->setTextFormat(Qt::PlainText);
    failure_->setWordWrap(true);
    failure_->setAlignment(Qt::AlignCenter);
    failure_->setStyleSheet(QStringLiteral("color: red;"));

    auto* table = new QGridLayout(tablePage_);
    table->setContentsMargins(0, 0, 0, 0);
    table->addWidget(cleaningProgress_, 0, 0, Qt::AlignCenter);

    pages_ = new QStackedLayout;
    pages_->addWidget(centred(explanation_));
    pages_->addWidget(centred(progress_));
    pages_->addWidget(centred(failure_));
    pages_->addWidget(tablePage_);
    box_->setLayout(pages_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(box_);

    bridge_->observe(cleaner_);
    refresh();
}

// The box goes before the style it is drawn with.
MainBox::~MainBox() {
    delete box_;
}

void MainBox::setDisplayedCategory(Category category) {
    displayedCategory_ = category;
    refresh();
}

MainBox::Content MainBox::content() const {
    return static_cast<Content>(pages_->currentIndex());
}

void MainBox::flush() {
    bridge_->flush();
}

MainBox::Content MainBox::contentFor(const Cleaner::State& state, Category category) {
    switch (state.kind) {
    case Kind::stopped:
        return Content::explanation;
    case Kind::scanning:
        return Content::progress;
    case Kind::scanned:
    case Kind::cleaning:
        break;
    }
    const auto entry = state.results.find(category);
    if (entry == state.results.end()) {
        return Content::explanation;
    }
    return std::holds_alternative<velmor::Error>(entry->second) ? Content::error : Content::table;
}

void MainBox::refresh() {
    const Cleaner::State& state = cleaner_->state();
    if (state.kind == Kind::scanning) {
        // A new scan finds new folders; the order the user chose stays.
        for (auto& [category, view] : tableViews_) {
            view.openIds.clear();
        }
    }
    const Content content = contentFor(state, displayedCategory_);
    if (content == Content::table) {
        showTable(std::get<CleanableNodes>(state.results.at(displayedCategory_)),
                  state.kind == Kind::cleaning);
    } else {
        dropTable();
    }
    if (content == Content::error) {
        setDisplayText(*failure_,
                       std::get<velmor::Error>(state.results.at(displayedCategory_)).description());
    }
    pages_->setCurrentIndex(static_cast<int>(content));
}

void MainBox::showTable(const CleanableNodes& nodes, bool cleaning) {
    TableKey key{cleaner_->state().kind, displayedCategory_, {}};
    for (const auto& node : nodes) {
        key.nodes.push_back(node.get());
    }
    if (key != tableKey_ || !fileSelector_) {
        dropTable();
        const Category category = displayedCategory_;
        SelectionBinding binding{
            [cleaner = cleaner_, category]() -> const std::unordered_set<std::string>& {
                return cleaner->selectedIds(category);
            },
            [cleaner = cleaner_, category](const SelectionChange& change) {
                cleaner->changeSelectedIds(category, change);
            },
            [cleaner = cleaner_] { return cleaner->selectionRevision(); }};
        fileSelector_ = new FileSelector(nodes, cleaner_->errorStore(), std::move(binding));
        QSizePolicy policy = fileSelector_->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        fileSelector_->setSizePolicy(policy);
        static_cast<QGridLayout*>(tablePage_->layout())->addWidget(fileSelector_, 0, 0);
        cleaningProgress_->raise();
        if (const auto view = tableViews_.find(category); view != tableViews_.end()) {
            if (view->second.sortOrder != fileSelector_->sortOrder()) {
                fileSelector_->setSortOrder(view->second.sortOrder);
            }
            fileSelector_->open(view->second.openIds);
        }
        tableKey_ = std::move(key);
    } else {
        fileSelector_->refreshSelection();
    }
    // While cleaning the table keeps its place, hidden and inert, under the progress bar.
    fileSelector_->setEnabled(!cleaning);
    fileSelector_->setVisible(!cleaning);
    cleaningProgress_->setVisible(cleaning);
}

void MainBox::dropTable() {
    if (fileSelector_ && tableKey_) {
        tableViews_[tableKey_->category] = {fileSelector_->sortOrder(), fileSelector_->openIds()};
    }
    delete fileSelector_;
    fileSelector_ = nullptr;
    tableKey_.reset();
}

} // namespace marrowdale
