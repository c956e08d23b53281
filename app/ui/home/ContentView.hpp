#pragma once

#include "app/model/context/Context.hpp"

#include <QWidget>

namespace marrowdale {

class HomeView;

// Everything inside the window: the home screen on the window's background colour. Its minimum
// size is the window's.
class ContentView : public QWidget {
public:
    explicit ContentView(const Context& context, QWidget* parent = nullptr);

    HomeView& homeView() const { return *home_; }

private:
    HomeView* home_;
};

} // namespace marrowdale
