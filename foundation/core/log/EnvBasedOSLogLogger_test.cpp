#include "foundation/core/log/EnvBasedOSLogLogger.hpp"

#include "foundation/core/log/LoggerTestSupport.hpp"

#include <cstdlib>
#include <optional>

namespace velmor {
namespace {

using Level = EnvBasedOSLogLogger::LogLevel;
using testing::CountingMessage;

// Sets the two level variables for one case and clears them afterwards.
class LevelEnvironment {
public:
    LevelEnvironment(std::optional<std::string> forCategory, std::optional<std::string> global) {
        clear();
        if (forCategory) {
            ::setenv("LogLevel-Disk", forCategory->c_str(), 1);
        }
        if (global) {
            ::setenv("LogLevel", global->c_str(), 1);
        }
    }
    ~LevelEnvironment() { clear(); }

private:
    static void clear() {
        ::unsetenv("LogLevel-Disk");
        ::unsetenv("LogLevel");
    }
};

TEST(EnvBasedOSLogLogger, ReadsTheCategoryLevelThenTheGlobalOne) {
    struct Case {
        std::optional<std::string> forCategory;
        std::optional<std::string> global;
        Level disk;
        Level other;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, Level::error, Level::error},
        {"debug", "none", Level::debug, Level::none},
        {std::nullopt, "info", Level::info, Level::info},
        {"none", std::nullopt, Level::none, Level::error},
        {std::nullopt, "DEBUG", Level::error, Level::error},
        {std::nullopt, "default", Level::error, Level::error},
        {std::nullopt, " debug", Level::error, Level::error},
        {"", "debug", Level::error, Level::debug},
        {"error", "debug", Level::error, Level::debug},
    };
    for (const auto& c : cases) {
        LevelEnvironment environment(c.forCategory, c.global);
        SCOPED_TRACE(c.forCategory.value_or("<unset>") + " / " + c.global.value_or("<unset>"));
        EXPECT_EQ(EnvBasedOSLogLogger::levelFromEnvironment("Disk"), c.disk);
        EXPECT_EQ(EnvBasedOSLogLogger::levelFromEnvironment("Other"), c.other);
        EXPECT_EQ(EnvBasedOSLogLogger("Disk").level(), c.disk);
    }
}

class EnvBasedOSLogLoggerTest : public testing::CapturedLogTest {};

TEST_F(EnvBasedOSLogLoggerTest, WritesTheLevelsUpToItsThresholdAndBuildsNoOtherMessage) {
    sink_->setEnabled(log::LogType::debug, true);
    struct Case {
        std::optional<std::string> level;
        std::vector<std::string> written;
    };
    const Case cases[] = {
        {std::nullopt, {"error: e"}},
        {"none", {}},
        {"error", {"error: e"}},
        {"info", {"info: i", "default: f", "error: e"}},
        {"debug", {"debug: d", "info: i", "default: f", "error: e"}},
    };
    for (const auto& c : cases) {
        sink_->clear();
        LevelEnvironment environment(std::nullopt, c.level);
        EnvBasedOSLogLogger logger("Disk");
        CountingMessage debug{"d"}, info{"i"}, fallback{"f"}, error{"e"};
        logger.debug(debug);
        logger.info(info);
        logger.default_(fallback);
        logger.error(error);
        SCOPED_TRACE(c.level.value_or("<unset>"));
        EXPECT_EQ(messages(), c.written);
        EXPECT_EQ(debug.evaluations + info.evaluations + fallback.evaluations + error.evaluations,
                  static_cast<int>(c.written.size()));
    }
}

TEST_F(EnvBasedOSLogLoggerTest, KeepsTheLevelItWasMadeWith) {
    LevelEnvironment debugLevel(std::nullopt, "debug");
    auto logger = EnvBasedOSLogLogger::factory()("Disk");
    ::setenv("LogLevel", "none", 1);
    logger->info([] { return "still written"; });
    EXPECT_EQ(messages(), std::vector<std::string>{"info: still written"});
    EXPECT_EQ(sink_->entries().front().category, "Disk");
}

} // namespace
} // namespace velmor
