#include "sdk/finder/OSLogLoggerAdapter.hpp"

#include "platform/log/CaptureSink.hpp"

#include <gtest/gtest.h>

namespace sweepkit {
namespace {

using velmor::log::LogType;

TEST(OSLogLoggerAdapter, ForwardsEachMessageToTheOperationOfTheSameName) {
    auto sink = std::make_shared<velmor::log::CaptureSink>();
    auto previous = velmor::log::LogSink::install(sink);
    OSLogLoggerAdapter adapter(std::make_shared<velmor::OSLogLogger>("Finder"));
    velmor::log::LogSink::install(previous);

    int evaluations = 0;
    auto message = [&evaluations](const char* text) {
        return [&evaluations, text] {
            ++evaluations;
            return std::string(text);
        };
    };
    sink->setEnabled(LogType::debug, false);
    const SweepKitLogger& logger = adapter;
    logger.debug(message("d"));
    EXPECT_EQ(evaluations, 0) << "a dropped debug message is never built";
    sink->setEnabled(LogType::debug, true);
    logger.debug(message("d"));
    logger.info(message("i"));
    logger.error(message("e"));
    logger.default_(message("f"));
    EXPECT_EQ(evaluations, 4);

    auto entries = sink->entries();
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].type, LogType::debug);
    EXPECT_EQ(entries[1].type, LogType::info);
    EXPECT_EQ(entries[2].type, LogType::error);
    EXPECT_EQ(entries[2].message, "e");
    EXPECT_EQ(entries[3].type, LogType::default_);
    EXPECT_EQ(entries[3].category, "Finder");
}

} // namespace
} // namespace sweepkit
