#pragma once

#include "app/model/cleaner/Cleaner.hpp"

#include <QString>

#include <cstdint>
#include <string>

namespace marrowdale {

// What the header's one button does when pressed.
enum class ScanButtonAction { scan, stop, clean, none };

// What the header shows for a state of the cleaner.
struct HeaderPresentation {
    std::string titleKey;
    ScanButtonAction action = ScanButtonAction::none;
    bool enabled = false;
    // The line under the button: the hint about scanning, or the selected size.
    QString status;
};

// The header's table of states: scan from `stopped`, stop while `scanning`, clean once results are
// on show (only with something selected in any category; never while cleaning). `selectedSize` is
// shown once results are on show.
HeaderPresentation presentHeader(Cleaner::State::Kind kind, bool anythingSelected, std::int64_t selectedSize);

// The presentation of `cleaner` as it stands.
HeaderPresentation presentHeader(const Cleaner& cleaner);

// Carries out the button's action on `cleaner`. Stopping only cancels the current run (if any):
// the cleaner itself returns to `stopped` when its scan notices.
void perform(ScanButtonAction action, Cleaner& cleaner);

} // namespace marrowdale
