#include "foundation/core/log/ConfigurableLogger.hpp"

#include "foundation/core/log/LoggerTestSupport.hpp"
#include "foundation/core/log/OSLogLogger.hpp"

namespace velmor {
namespace {

using Level = ConfigurableLogger::LogLevel;
using testing::CountingMessage;

class ConfigurableLoggerTest : public testing::CapturedLogTest {};

TEST_F(ConfigurableLoggerTest, WritesUpToItsLevelAndPassesDefaultOnAsInfo) {
    sink_->setEnabled(log::LogType::debug, true);
    struct Case {
        Level level;
        std::vector<std::string> written;
    };
    const Case cases[] = {
        {Level::disabled, {}},
        {Level::error, {"error: e"}},
        {Level::default_, {"info: f", "error: e"}},
        {Level::info, {"info: i", "info: f", "error: e"}},
        {Level::debug, {"debug: d", "info: i", "info: f", "error: e"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.level));
        sink_->clear();
        ConfigurableLogger logger(std::make_shared<OSLogLogger>("Disk"), c.level);
        CountingMessage debug{"d"}, info{"i"}, fallback{"f"}, error{"e"};
        logger.debug(debug);
        logger.info(info);
        logger.default_(fallback);
        logger.error(error);
        EXPECT_EQ(messages(), c.written);
        // Below the threshold a message is never built.
        EXPECT_EQ(debug.evaluations + info.evaluations + fallback.evaluations + error.evaluations,
                  static_cast<int>(c.written.size()));
    }
}

TEST_F(ConfigurableLoggerTest, LeavesTheWrappedLoggerToDecideWhetherToBuildTheMessage) {
    ConfigurableLogger logger(std::make_shared<OSLogLogger>("Disk"), Level::debug);
    CountingMessage debug{"d"};
    sink_->setEnabled(log::LogType::debug, false);
    logger.debug(debug);
    EXPECT_EQ(debug.evaluations, 0);
    EXPECT_TRUE(messages().empty());
}

TEST(ConfigurableLoggerLevel, ComesFromRawValuesZeroToFour) {
    EXPECT_EQ(ConfigurableLogger::logLevel(-1), std::nullopt);
    EXPECT_EQ(ConfigurableLogger::logLevel(0), Level::disabled);
    EXPECT_EQ(ConfigurableLogger::logLevel(2), Level::default_);
    EXPECT_EQ(ConfigurableLogger::logLevel(4), Level::debug);
    EXPECT_EQ(ConfigurableLogger::logLevel(5), std::nullopt);
}

} // namespace
} // namespace velmor
