#pragma once

#include <QGuiApplication>
#include <QStyleHints>

namespace marrowdale::testing {

// Sets the platform's double-click interval for as long as it lives. A test's clicks come at
// machine speed: one that means two separate presses sets it to 0, one that means a double click
// sets it far longer than a loaded machine could take between two presses.
class DoubleClickInterval {
public:
    explicit DoubleClickInterval(int milliseconds)
        : previous_(QGuiApplication::styleHints()->mouseDoubleClickInterval()) {
        QGuiApplication::styleHints()->setMouseDoubleClickInterval(milliseconds);
    }
    ~DoubleClickInterval() { QGuiApplication::styleHints()->setMouseDoubleClickInterval(previous_); }
    DoubleClickInterval(const DoubleClickInterval&) = delete;
    DoubleClickInterval& operator=(const DoubleClickInterval&) = delete;

private:
    int previous_;
};

} // namespace marrowdale::testing
