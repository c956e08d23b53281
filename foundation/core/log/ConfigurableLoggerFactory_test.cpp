#include "foundation/core/log/ConfigurableLoggerFactory.hpp"

#include "foundation/core/log/LoggerTestSupport.hpp"
#include "platform/testing/TemporaryDirectory.hpp"
#include "platform/testing/Watchdog.hpp"

#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <variant>

namespace velmor {
namespace {

using Level = ConfigurableLogger::LogLevel;
using Configuration = ConfigurableLoggerFactory::Configuration;

class ConfigurableLoggerFactoryTest : public testing::CapturedLogTest {
protected:
    URL location() const { return URL::fileURL(folder_ / "logging.conf"); }
    std::string failureLine(const std::string& error) const {
        return "error: Failed to read configuration file at " + location().absoluteString() + ": " + error;
    }

    velmor::testing::TemporaryDirectory folder_;
};

TEST_F(ConfigurableLoggerFactoryTest, ReadsTheFileOrFallsBackToDebugWithOneErrorLine) {
    const Configuration everything{{}, Level::debug};
    // Either the configuration a text gives, or the error the failure line names.
    using Outcome = std::variant<Configuration, std::string>;
    struct Case {
        const char* name;
        std::string text;
        Outcome outcome;
    };
    const Case cases[] = {
        {"empty file", "", everything},
        {"only comments and blanks", "# levels\n   \t\n// none yet\n", everything},
        {"star disables every category", "* = disabled\n", Configuration{{}, Level::disabled}},
        {"case, blanks and tabs around level and category", "Cleaner\t=  InFo \n\t disk=ERROR\n* =Debug",
         Configuration{{{"Cleaner", Level::info}, {"disk", Level::error}}, Level::debug}},
        {"comments cut at the earlier marker", "a = info # was debug\nb = error // note # here\n",
         Configuration{{{"a", Level::info}, {"b", Level::error}}, Level::debug}},
        {"later lines replace earlier ones", "a = info\n* = error\na = disabled\n* = info",
         Configuration{{{"a", Level::disabled}}, Level::info}},
        {"CR-LF endings", "a = info\r\nb = debug\r\n",
         Configuration{{{"a", Level::info}, {"b", Level::debug}}, Level::debug}},
        {"line and paragraph separators", "a = info\u2028b = error\u2029c = debug\u0085* = disabled",
         Configuration{{{"a", Level::info}, {"b", Level::error}, {"c", Level::debug}}, Level::disabled}},
        {"non-breaking and other Unicode spaces", "\u00A0a\u3000=\u00A0info\u2009\u202F",
         Configuration{{{"a", Level::info}}, Level::debug}},
        {"two equals", "a = info\nb = info = debug\n", "invalidNumberOfEquals"},
        {"no equals", "a = info\nb info\n", "invalidNumberOfEquals"},
        {"equals hidden by a comment", "a # = info\n", "invalidNumberOfEquals"},
        {"default is not a level here", "a = default\n", R"(invalidLevel(levelString: "default"))"},
        {"unknown level kept as written", "a = Verbose \n", R"(invalidLevel(levelString: "Verbose"))"},
        {"quoted level", "a = \"info\"", R"(invalidLevel(levelString: "\"info\""))"},
        {"empty level", "a =   ", R"(invalidLevel(levelString: ""))"},
        {"not UTF-8", "a = info\nb = \xFF\n", "The file \"logging.conf\" is not UTF-8 text."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sink_->clear();
        folder_.writeFile("logging.conf", c.text);
        ConfigurableLoggerFactory factory(location());
        if (auto expected = std::get_if<Configuration>(&c.outcome)) {
            EXPECT_EQ(factory.configuration(), *expected);
            EXPECT_TRUE(messages().empty());
        } else {
            EXPECT_EQ(factory.configuration(), everything);
            EXPECT_EQ(messages(), std::vector<std::string>{failureLine(std::get<std::string>(c.outcome))});
            EXPECT_EQ(sink_->entries().front().category, "ConfigurableLoggerFactory");
            EXPECT_EQ(sink_->entries().front().subsystem, "com.velmor.generic");
        }
    }
}

TEST_F(ConfigurableLoggerFactoryTest, AMissingFileIsSilentAndAnUnreadableOneIsReported) {
    EXPECT_EQ(ConfigurableLoggerFactory(location()).configuration(), (Configuration{{}, Level::debug}));
    EXPECT_TRUE(messages().empty());

    folder_.makeDirectory("logging.conf");
    EXPECT_EQ(ConfigurableLoggerFactory(location()).configuration(), (Configuration{{}, Level::debug}));
    EXPECT_EQ(messages(), std::vector<std::string>{
                              failureLine("The file \"logging.conf\" could not be read: Is a directory.")});
}

TEST_F(ConfigurableLoggerFactoryTest, AFIFOOrAFileOverTheLimitIsReportedUnread) {
    velmor::testing::Watchdog watchdog("reading a hostile level file", 60);
    ASSERT_EQ(::mkfifo(location().path().c_str(), 0600), 0);
    EXPECT_EQ(ConfigurableLoggerFactory(location()).configuration(), (Configuration{{}, Level::debug}));
    ASSERT_EQ(::unlink(location().path().c_str()), 0);
    // Read whole, it would set every level to error.
    folder_.writeFile("logging.conf", "* = error\n" + std::string(1 << 20, '\n'));
    EXPECT_EQ(ConfigurableLoggerFactory(location()).configuration(), (Configuration{{}, Level::debug}));
    EXPECT_EQ(
        messages(),
        (std::vector<std::string>{
            failureLine("The file \"logging.conf\" could not be read: It is a FIFO, not a regular file."),
            failureLine("The file \"logging.conf\" could not be read: File too large: it is over the "
                        "limit of 1048576 bytes.")}));
}

TEST_F(ConfigurableLoggerFactoryTest, MakesLoggersByExactCategoryAndStandsForALoggerFactory) {
    folder_.writeFile("logging.conf", "Cleaner = error\n* = info\n");
    LoggerFactory factory = ConfigurableLoggerFactory(location());
    auto cleaner = factory("Cleaner");
    auto lower = factory("cleaner");
    cleaner->info([] { return "dropped"; });
    cleaner->error([] { return "kept"; });
    lower->info([] { return "kept too"; });
    lower->debug([] { return "dropped too"; });
    EXPECT_EQ(messages(), (std::vector<std::string>{"error: kept", "info: kept too"}));
    EXPECT_EQ(sink_->entries()[0].category, "Cleaner");
    EXPECT_EQ(sink_->entries()[1].category, "cleaner");
    EXPECT_EQ(std::dynamic_pointer_cast<ConfigurableLogger>(lower)->level(), Level::info);
}

} // namespace
} // namespace velmor
