#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>

namespace marrowdale::testing {

// Runs the event loop until `done` holds (the model finishes its work on the main thread, a bus
// answers). Gives up after ten seconds, so a broken test fails instead of hanging; the caller
// asserts on the result.
template <typename Done> bool pumpUntil(Done done) {
    QDeadlineTimer deadline(10'000);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return done();
}

} // namespace marrowdale::testing
