#include "app/model/logging/VelmorLoggerWrapper.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace marrowdale {
namespace {

// Records what it writes; levels in `dropped` are filtered out without evaluating the message.
struct RecordingLogger : velmor::Logger {
    mutable std::vector<std::string> written;
    std::string dropped;
    void write(const char* level, velmor::LogMessage message) const {
        if (dropped.find(level) == std::string::npos) {
            written.push_back(std::string(level) + ":" + message());
        }
    }
    void debug(velmor::LogMessage message) const override { write("debug", message); }
    void info(velmor::LogMessage message) const override { write("info", message); }
    void default_(velmor::LogMessage message) const override { write("default", message); }
    void error(velmor::LogMessage message) const override { write("error", message); }
};

TEST(VelmorLoggerWrapper, ForwardsEachLevelToItsNamesakeWithoutEvaluatingDroppedMessages) {
    auto parent = std::make_shared<RecordingLogger>();
    parent->dropped = "debug";
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
    EXPECT_EQ(parent->written, (std::vector<std::string>{"info:text", "error:text", "default:text"}));
}

} // namespace
} // namespace marrowdale
