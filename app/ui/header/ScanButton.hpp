#pragma once

#include "app/model/cleaner/Cleaner.hpp"
#include "app/ui/header/HeaderPresentation.hpp"

#include <QElapsedTimer>
#include <QPushButton>

#include <memory>

namespace marrowdale {

class ObservationBridge;

// The user's one way to drive the cleaner: scan, stop or clean, by the cleaner's state. It follows
// the cleaner and holds no state of its own beyond what it last drew, and when that changed: a
// press that comes within the double-click interval after the action changed is the second half of
// a double click meant for the action before, and is ignored (a double click on scan would stop it).
class ScanButton : public QPushButton {
public:
    explicit ScanButton(std::shared_ptr<Cleaner> cleaner, QWidget* parent = nullptr);

    // Draws a pending change of the cleaner now.
    void flush();
    ScanButtonAction action() const { return action_; }

private:
    void refresh();
    void pressed();

    std::shared_ptr<Cleaner> cleaner_;
    ObservationBridge* bridge_;
    ScanButtonAction action_ = ScanButtonAction::none;
    // Since the action last changed; invalid before the first change after the first drawing.
    QElapsedTimer actionChanged_;
};

} // namespace marrowdale
