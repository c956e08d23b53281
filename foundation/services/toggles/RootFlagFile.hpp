#pragma once

#include "foundation/core/log/Logger.hpp"
#include "foundation/services/toggles/Condition.hpp"
#include "platform/fs/URL.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace velmor {

struct FeatureToggleSettings {
    // The machine-wide folder the flags live in.
    static constexpr const char* defaultRootFlagFolder = "/var/lib/Velmor";

    explicit FeatureToggleSettings(const LoggerFactory& loggerFactory)
        : rootFlagLocation(URL::fileURL(defaultRootFlagFolder)), logger_(loggerFactory("FeatureToggle")) {}

    const std::shared_ptr<Logger>& logger() const { return logger_; }

    std::optional<URL> rootFlagLocation;

private:
    std::shared_ptr<Logger> logger_;
};

// On while a hidden entry "." + name in the flag folder exists and is owned by root. The entry is
// never followed nor read: whoever may make root-owned entries there may switch the flag.
class RootFlagFile : public Condition {
public:
    // `nameBuilder` turns an empty sequence into the flag's name; it runs once, here.
    RootFlagFile(FeatureToggleSettings settings, const std::function<std::string(std::string)>& nameBuilder)
        : settings(std::move(settings)), name(nameBuilder(std::string())) {}

    bool isFulfilled() const override;

    FeatureToggleSettings settings;
    std::string name;
};

} // namespace velmor
