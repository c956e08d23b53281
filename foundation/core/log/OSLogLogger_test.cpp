#include "foundation/core/log/OSLogLogger.hpp"

#include "foundation/core/log/LoggerTestSupport.hpp"
#include "platform/testing/InfoPlist.hpp"

#include <cstdlib>
#include <thread>
#include <unistd.h>

namespace velmor {
namespace {

using testing::CapturedLogTest;
using testing::CountingMessage;

TEST(OSLogLoggerSubsystem, IsTheBundleIdentifierElseTheGenericOne) {
    velmor::testing::TemporaryDirectory withIdentifier, withoutIdentifier, withoutInfo;
    velmor::testing::writeInfoPlist(withIdentifier,
                                    "<key>CFBundleIdentifier</key><string>com.velmor.marrowdale</string>");
    velmor::testing::writeInfoPlist(withoutIdentifier, "<key>CFBundleName</key><string>Marrowdale</string>");
    EXPECT_EQ(OSLogLogger::subsystem(Bundle(URL::fileURL(withIdentifier.path()))), "com.velmor.marrowdale");
    EXPECT_EQ(OSLogLogger::subsystem(Bundle(URL::fileURL(withoutIdentifier.path()))), "com.velmor.generic");
    EXPECT_EQ(OSLogLogger::subsystem(Bundle(URL::fileURL(withoutInfo.path()))), "com.velmor.generic");
}

TEST(OSLogLoggerSubsystem, ComesFromTheMainBundle) {
    // The main bundle is found once per process, so each case runs in a child of its own.
    velmor::testing::TemporaryDirectory bundle;
    velmor::testing::writeInfoPlist(bundle,
                                    "<key>CFBundleIdentifier</key><string>com.velmor.marrowdale</string>");
    EXPECT_EXIT(
        {
            ::setenv(Bundle::mainBundleEnvironmentKey, bundle.path().c_str(), 1);
            OSLogLogger logger("Cleaner");
            std::exit(logger.logger().subsystem() == "com.velmor.marrowdale" &&
                              logger.logger().category() == "Cleaner"
                          ? 0
                          : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            ::unsetenv(Bundle::mainBundleEnvironmentKey);
            OSLogLogger logger("Cleaner");
            std::exit(logger.logger().subsystem() == "com.velmor.generic" ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

class OSLogLoggerTest : public CapturedLogTest {};

TEST_F(OSLogLoggerTest, WritesEachLevelUnderItsCategory) {
    sink_->setEnabled(log::LogType::debug, true);
    OSLogLogger logger("Finder");
    logger.debug([] { return "d"; });
    logger.info([] { return "i"; });
    logger.default_([] { return "%{public}@ 100%"; });
    logger.error([] { return "e"; });
    EXPECT_EQ(messages(),
              (std::vector<std::string>{"debug: d", "info: i", "default: %{public}@ 100%", "error: e"}));
    for (const auto& entry : sink_->entries()) {
        EXPECT_EQ(entry.category, "Finder");
        EXPECT_EQ(entry.subsystem, "com.velmor.generic");
    }
}

TEST_F(OSLogLoggerTest, OnlyDebugAsksWhetherItsLevelIsKept) {
    for (auto type : {log::LogType::debug, log::LogType::info, log::LogType::default_, log::LogType::error}) {
        sink_->setEnabled(type, false);
    }
    OSLogLogger logger("Finder");
    CountingMessage debug{"d"}, info{"i"}, fallback{"f"}, error{"e"};
    logger.debug(debug);
    logger.info(info);
    logger.default_(fallback);
    logger.error(error);
    EXPECT_EQ(debug.evaluations, 0);
    EXPECT_EQ(info.evaluations, 1);
    EXPECT_EQ(fallback.evaluations, 1);
    EXPECT_EQ(error.evaluations, 1);
    EXPECT_TRUE(messages().empty());

    sink_->setEnabled(log::LogType::debug, true);
    logger.debug(debug);
    EXPECT_EQ(debug.evaluations, 1);
    EXPECT_EQ(messages(), std::vector<std::string>{"debug: d"});
}

TEST_F(OSLogLoggerTest, FactoryMakesOneLoggerPerCategoryAndServesManyThreads) {
    auto logger = OSLogLogger::factory()("Scan");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&logger] {
            for (int i = 0; i < 50; ++i) {
                logger->error([] { return "x"; });
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(sink_->entries().size(), 200u);
    EXPECT_EQ(sink_->entries().front().category, "Scan");
}

} // namespace
} // namespace velmor
