#include "foundation/core/log/ConfigurableLoggerFactory.hpp"

#include "foundation/core/log/OSLogLogger.hpp"
#include "platform/fs/FileContents.hpp"
#include "platform/text/QuotedText.hpp"
#include "platform/text/UnicodeWhitespace.hpp"

#include <algorithm>
#include <cctype>
#include <exception>
#include <sys/stat.h>

namespace velmor {

namespace {

using LogLevel = ConfigurableLogger::LogLevel;
using ConfigurationParsingError = ConfigurableLoggerFactory::ConfigurationParsingError;

// A level file has a line per category; a file past this is refused unread.
constexpr std::size_t configurationSizeLimit = 1 << 20;

// The level names are ASCII, so lowering ASCII letters is enough to compare them.
LogLevel parseLevel(std::string_view written) {
    std::string lowered(written);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lowered == "disabled") {
        return LogLevel::disabled;
    }
    if (lowered == "error") {
        return LogLevel::error;
    }
    if (lowered == "info") {
        return LogLevel::info;
    }
    if (lowered == "debug") {
        return LogLevel::debug;
    }
    throw ConfigurationParsingError::invalidLevel(std::string(written));
}

std::string_view withoutComment(std::string_view line) {
    line = line.substr(0, line.find('#'));
    return line.substr(0, line.find("//"));
}

bool fileExists(const URL& url) {
    struct ::stat record {};
    return ::stat(url.path().c_str(), &record) == 0;
}

} // namespace

std::string ConfigurationParsingError::caseDescription() const {
    switch (case_) {
    case Case::invalidLevel:
        return "invalidLevel(levelString: " + quotedDescription(levelString_) + ")";
    case Case::invalidNumberOfEquals:
        return "invalidNumberOfEquals";
    }
    return "unknown";
}

Error ConfigurationParsingError::toError() const {
    return Error(domain, static_cast<std::int64_t>(case_),
                 {{Error::localizedDescriptionKey, caseDescription()}});
}

ConfigurableLoggerFactory::Configuration ConfigurableLoggerFactory::parse(std::string_view text) {
    Configuration configuration;
    for (std::string_view line : splitLines(text)) {
        line = withoutComment(line);
        if (trimmingBlanks(line).empty()) {
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string_view::npos || line.find('=', equals + 1) != std::string_view::npos) {
            throw ConfigurationParsingError::invalidNumberOfEquals();
        }
        const std::string_view category = trimmingBlanks(line.substr(0, equals));
        const LogLevel level = parseLevel(trimmingBlanks(line.substr(equals + 1)));
        if (category == "*") {
            configuration.defaultLevel = level;
        } else {
            configuration.levelForCategory.insert_or_assign(std::string(category), level);
        }
    }
    return configuration;
}

ConfigurableLoggerFactory::ConfigurableLoggerFactory(const URL& configurationLocation) {
    if (!fileExists(configurationLocation)) {
        return;
    }
    try {
        configuration_ = parse(utf8ContentsOfFile(configurationLocation, configurationSizeLimit));
    } catch (...) {
        // A parsing error describes itself as its case, a read failure as its error.
        OSLogLogger::makeHandle("ConfigurableLoggerFactory")
            .write(log::LogType::error, "Failed to read configuration file at " +
                                            configurationLocation.absoluteString() + ": " +
                                            errorFromException(std::current_exception()).description());
    }
}

std::shared_ptr<Logger> ConfigurableLoggerFactory::logger(const std::string& category) const {
    auto found = configuration_.levelForCategory.find(category);
    const LogLevel level =
        found != configuration_.levelForCategory.end() ? found->second : configuration_.defaultLevel;
    return std::make_shared<ConfigurableLogger>(std::make_shared<OSLogLogger>(category), level);
}

} // namespace velmor
