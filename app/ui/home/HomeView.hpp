#pragma once

#include "app/model/cleaner/Cleaner.hpp"

#include <QWidget>

#include <memory>
#include <vector>

namespace marrowdale {

class CategoriesSelector;
class Footer;
class Header;
class MainBox;

// The category the home screen opens on: the cleaner's first, or large files when it has none.
Category initialCategory(const std::vector<Category>& categories);

// The four areas of the home screen: the header, the category tiles beside the main box, and the
// footer. Holds the one piece of screen state the cleaner does not: the category on show, which
// changes only when the user picks a tile, never with a scan or a clean.
class HomeView : public QWidget {
public:
    explicit HomeView(std::shared_ptr<Cleaner> cleaner, QWidget* parent = nullptr);

    Category selectedCategory() const { return selectedCategory_; }

    Header& header() const { return *header_; }
    CategoriesSelector& categoriesSelector() const { return *selector_; }
    MainBox& mainBox() const { return *mainBox_; }
    Footer& footer() const { return *footer_; }
    // Draws pending changes of the cleaner in every area now.
    void flush();

private:
    void select(Category category);

    std::shared_ptr<Cleaner> cleaner_;
    Category selectedCategory_;
    Header* header_;
    CategoriesSelector* selector_;
    MainBox* mainBox_;
    Footer* footer_;
};

} // namespace marrowdale
