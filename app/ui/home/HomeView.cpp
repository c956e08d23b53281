#include "app/ui/home/HomeView.hpp"

#include "app/ui/header/Header.hpp"
#include "app/ui/home/CategoriesSelector.hpp"
#include "app/ui/home/Footer.hpp"
#include "app/ui/home/MainBox.hpp"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace marrowdale {

Category initialCategory(const std::vector<Category>& categories) {
    return categories.empty() ? Category::largeFiles : categories.front();
}

HomeView::HomeView(std::shared_ptr<Cleaner> cleaner, QWidget* parent)
    : QWidget(parent), cleaner_(std::move(cleaner)),
      selectedCategory_(initialCategory(cleaner_->categories())), header_(new Header(cleaner_)),
      selector_(new CategoriesSelector(cleaner_, selectedCategory_,
                                       [this](Category category) { select(category); })),
      mainBox_(new MainBox(cleaner_, selectedCategory_)), footer_(new Footer(cleaner_)) {
    auto* selectorColumn = new QVBoxLayout;
    selectorColumn->setContentsMargins(0, 24, 0, 0);
    selectorColumn->addWidget(selector_);

    auto* middle = new QHBoxLayout;
    middle->setSpacing(16);
    middle->addLayout(selectorColumn);
    // The main box takes all the width and height the others leave.
    middle->addWidget(mainBox_, 1);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(16);
    column->addWidget(header_);
    column->addLayout(middle, 1);
    column->addWidget(footer_);
}

void HomeView::flush() {
    header_->flush();
    selector_->flush();
    mainBox_->flush();
    footer_->flush();
}

void HomeView::select(Category category) {
    selectedCategory_ = category;
    mainBox_->setDisplayedCategory(category);
}

} // namespace marrowdale
