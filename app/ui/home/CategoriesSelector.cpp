#include "app/ui/home/CategoriesSelector.hpp"

#include "app/ui/home/CategorySizes.hpp"
#include "app/ui/home/CategoryView.hpp"
#include "app/ui/observation/ObservationBridge.hpp"

#include <QVBoxLayout>

namespace marrowdale {

CategoriesSelector::CategoriesSelector(std::shared_ptr<Cleaner> cleaner, Category selection,
                                       std::function<void(Category)> select, QWidget* parent)
    : QWidget(parent), cleaner_(std::move(cleaner)), selection_(selection), select_(std::move(select)),
      bridge_(new ObservationBridge([this] { refresh(); }, this)) {
    setMinimumWidth(170);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);
    for (const Category category : cleaner_->categories()) {
        auto* tile = new CategoryView(category);
        connect(tile, &QAbstractButton::clicked, this, [this, category] {
            setSelection(category);
            if (select_) {
                select_(category);
            }
        });
        tiles_.push_back(tile);
        column->addWidget(tile);
    }
    column->addStretch(1);

    bridge_->observe(cleaner_);
    refresh();
}

void CategoriesSelector::setSelection(Category selection) {
    selection_ = selection;
    refresh();
}

void CategoriesSelector::flush() {
    bridge_->flush();
}

void CategoriesSelector::refresh() {
    const std::optional<SizesByCategory> sizes = categorySizes(cleaner_->state());
    const std::optional<std::int64_t> total = sizes ? std::optional(totalSize(*sizes)) : std::nullopt;
    for (CategoryView* tile : tiles_) {
        std::optional<std::int64_t> size;
        if (sizes) {
            if (const auto found = sizes->find(tile->category()); found != sizes->end()) {
                size = found->second;
            }
        }
        tile->setValues(size, total, tile->category() == selection_);
    }
}

} // namespace marrowdale
