#include "app/ui/testing/CleanerRuns.hpp"

#include <QTest>

#include <gtest/gtest.h>

namespace marrowdale::testing {

bool waitForState(const Cleaner& cleaner, Cleaner::State::Kind kind) {
    const bool reached = QTest::qWaitFor([&] { return cleaner.state().kind == kind; }, 30'000);
    EXPECT_TRUE(reached) << "never reached state " << static_cast<int>(kind);
    return reached;
}

void endCurrentRun(const Cleaner& cleaner) {
    if (cleaner.currentRun()) {
        cleaner.currentRun().cancel();
        EXPECT_TRUE(QTest::qWaitFor([&] { return cleaner.currentRun().isFinished(); }, 30'000));
    }
}

} // namespace marrowdale::testing
