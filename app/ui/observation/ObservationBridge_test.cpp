#include "app/ui/observation/ObservationBridge.hpp"

#include <QCoreApplication>

#include <gtest/gtest.h>

namespace marrowdale {
namespace {

class Model : public ObservableObject {
public:
    void change() { publishChange(); }
};

TEST(ObservationBridge, ManyChangesInOnePassRefreshOnce) {
    auto cleaner = std::make_shared<Model>();
    auto errors = std::make_shared<Model>();
    int refreshes = 0;
    ObservationBridge bridge([&] { ++refreshes; });
    bridge.observe(cleaner);
    bridge.observe(errors);

    // A clean with 100,000 failures publishes twice for each.
    for (int i = 0; i < 100'000; ++i) {
        errors->change();
        errors->change();
    }
    cleaner->change();
    EXPECT_EQ(refreshes, 0);
    EXPECT_TRUE(bridge.isPending());
    QCoreApplication::processEvents();
    EXPECT_EQ(refreshes, 1);
    EXPECT_FALSE(bridge.isPending());

    QCoreApplication::processEvents();
    EXPECT_EQ(refreshes, 1) << "no change, no refresh";
    cleaner->change();
    QCoreApplication::processEvents();
    EXPECT_EQ(refreshes, 2);
}

TEST(ObservationBridge, FlushRefreshesAtOnceAndOnlyWhenDue) {
    auto model = std::make_shared<Model>();
    int refreshes = 0;
    ObservationBridge bridge([&] { ++refreshes; });
    bridge.observe(model);
    bridge.flush();
    EXPECT_EQ(refreshes, 0);
    model->change();
    bridge.flush();
    EXPECT_EQ(refreshes, 1);
    QCoreApplication::processEvents();
    EXPECT_EQ(refreshes, 1) << "the pass after a flush has nothing left to do";
}

TEST(ObservationBridge, AGoneViewHearsNothingMore) {
    auto model = std::make_shared<Model>();
    int refreshes = 0;
    {
        ObservationBridge bridge([&] { ++refreshes; });
        bridge.observe(model);
        model->change();
    }
    model->change();
    QCoreApplication::processEvents();
    EXPECT_EQ(refreshes, 0);
}

} // namespace
} // namespace marrowdale
