#pragma once

#include "app/model/cleaner/Cleaner.hpp"

#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

namespace marrowdale {

class CategoryView;
class ObservationBridge;

// The column of category tiles, one per category of the cleaner in its order. The home screen owns
// the category on show; a click on a tile asks it to show that one.
class CategoriesSelector : public QWidget {
public:
    CategoriesSelector(std::shared_ptr<Cleaner> cleaner, Category selection,
                       std::function<void(Category)> select, QWidget* parent = nullptr);

    // The category on show, as the home screen has it.
    void setSelection(Category selection);
    Category selection() const { return selection_; }

    const std::vector<CategoryView*>& tiles() const { return tiles_; }
    // Draws pending changes of the cleaner now.
    void flush();

private:
    void refresh();

    std::shared_ptr<Cleaner> cleaner_;
    Category selection_;
    std::function<void(Category)> select_;
    std::vector<CategoryView*> tiles_;
    ObservationBridge* bridge_;
};

} // namespace marrowdale
