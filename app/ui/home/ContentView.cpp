#include "app/ui/home/ContentView.hpp"

#include "app/ui/assets/Assets.hpp"
#include "app/ui/home/HomeView.hpp"
#include "app/ui/text/Localized.hpp"

#include <QVBoxLayout>

namespace marrowdale {

ContentView::ContentView(const Context& context, QWidget* parent)
    : QWidget(parent), home_(new HomeView(context.cleaner)) {
    setMinimumSize(900, 700);
    setWindowTitle(localized(""));
    setAutoFillBackground(true);
    QPalette background = palette();
    background.setColor(QPalette::Window, assets::customWindowBackgound.color());
    setPalette(background);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(home_);
}

} // namespace marrowdale
