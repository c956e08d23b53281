#pragma once

#include "app/model/cleaner/Cleaner.hpp"

namespace marrowdale::testing {

// Pumps events until `cleaner` is in `kind`; false (with a test failure) when it never gets there.
bool waitForState(const Cleaner& cleaner, Cleaner::State::Kind kind);

// Cancels a run still going and waits for its end, so that it does not outlive its cleaner.
void endCurrentRun(const Cleaner& cleaner);

} // namespace marrowdale::testing
