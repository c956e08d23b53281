#include "app/model/logging/VelmorLoggerWrapper.hpp"

#include "foundation/core/log/RecordingLogger.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace marrowdale {
namespace {

TEST(VelmorLoggerWrapper, ForwardsEachLevelToItsNamesakeWithoutEvaluatingDroppedMessages) {
    auto parent = std::make_shared<velmor::testing::RecordingLogger>(std::set<std::string>{"debug"});
    VelmorLoggerWrapper wrapper(parent);
    const sweepkit::SweepKitLogger& sdk = wrapper;

    int built = 0;
    auto message = [&] {
        ++built;
        return std::string("text");
    };
    sdk.debug(message);
    EXPECT_EQ(built, 0);
    sdk.info(message);
    sdk.error(message);
    sdk.default_(message);
    EXPECT_EQ(built, 3);
    EXPECT_EQ(parent->lines(), (std::vector<std::string>{"info: text", "error: text", "default: text"}));
}

} // namespace
} // namespace marrowdale
