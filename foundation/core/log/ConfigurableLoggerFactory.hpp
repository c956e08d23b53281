#pragma once

#include "foundation/core/log/ConfigurableLogger.hpp"
#include "platform/error/Error.hpp"
#include "platform/fs/URL.hpp"

#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace velmor {

// Makes loggers whose threshold per category comes from a small text file, read once when the
// factory is made. Each line reads "<category> = <level>" ("*" for every other category), with
// levels disabled, error, info and debug in any case; "#" and "//" start comments. A missing file
// leaves every category at debug; a file that cannot be read or parsed does the same, after one
// error line in the log. Callable, so it stands wherever a `LoggerFactory` does.
class ConfigurableLoggerFactory {
public:
    struct Configuration {
        std::map<std::string, ConfigurableLogger::LogLevel> levelForCategory;
        ConfigurableLogger::LogLevel defaultLevel = ConfigurableLogger::LogLevel::debug;

        friend bool operator==(const Configuration&, const Configuration&) = default;
    };

    class ConfigurationParsingError : public ComponentError {
    public:
        static constexpr const char* domain =
            "VelmorFoundation.ConfigurableLoggerFactory.ConfigurationParsingError";

        // Cases in order; the code of each is its index.
        enum class Case { invalidLevel, invalidNumberOfEquals };

        static ConfigurationParsingError invalidLevel(std::string levelString) {
            return ConfigurationParsingError(Case::invalidLevel, std::move(levelString));
        }
        static ConfigurationParsingError invalidNumberOfEquals() {
            return ConfigurationParsingError(Case::invalidNumberOfEquals, {});
        }

        Case errorCase() const { return case_; }
        // The payload of `invalidLevel`: the level text as written, trimmed.
        const std::string& levelString() const { return levelString_; }
        // The case as it is written out: `invalidLevel(levelString: "verbose")`.
        std::string caseDescription() const;
        Error toError() const override;

    private:
        ConfigurationParsingError(Case value, std::string levelString)
            : case_(value), levelString_(std::move(levelString)) {}

        Case case_;
        std::string levelString_;
    };

    explicit ConfigurableLoggerFactory(const URL& configurationLocation);

    // The configuration a file's text gives; throws `ConfigurationParsingError` at the first bad line.
    static Configuration parse(std::string_view text);

    const Configuration& configuration() const { return configuration_; }

    // A new logger for `category` over a new `OSLogLogger` of that category.
    std::shared_ptr<Logger> logger(const std::string& category) const;
    std::shared_ptr<Logger> operator()(const std::string& category) const { return logger(category); }

private:
    Configuration configuration_;
};

} // namespace velmor
