#include "app/ui/header/ScanButton.hpp"

#include "app/ui/observation/ObservationBridge.hpp"
#include "app/ui/text/Localized.hpp"

#include <QGuiApplication>
#include <QStyleHints>

namespace marrowdale {

ScanButton::ScanButton(std::shared_ptr<Cleaner> cleaner, QWidget* parent)
    : QPushButton(parent), cleaner_(std::move(cleaner)),
      bridge_(new ObservationBridge([this] { refresh(); }, this)) {
    bridge_->observe(cleaner_);
    connect(this, &QPushButton::clicked, this, &ScanButton::pressed);
    refresh();
    actionChanged_.invalidate();
}

void ScanButton::flush() {
    bridge_->flush();
}

void ScanButton::refresh() {
    // The button needs no size: the status line below it shows that.
    const HeaderPresentation presentation =
        presentHeader(cleaner_->state().kind, cleaner_->hasSelection(), 0);
    setText(localized(presentation.titleKey));
    setEnabled(presentation.enabled);
    if (presentation.action != action_) {
        action_ = presentation.action;
        actionChanged_.start();
    }
}

void ScanButton::pressed() {
    // The press answers the state as it is now, not as last drawn.
    flush();
    if (actionChanged_.isValid() &&
        actionChanged_.elapsed() < QGuiApplication::styleHints()->mouseDoubleClickInterval()) {
        return;
    }
    if (isEnabled()) {
        perform(action_, *cleaner_);
    }
}

} // namespace marrowdale
