#pragma once

#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velmor::testing {

// Sets (or, for nothing, removes) environment variables for one test and puts back what was there
// before. Tests run one per process, so changing the environment is safe there.
class ScopedEnvironment {
public:
    using Settings = std::vector<std::pair<std::string, std::optional<std::string>>>;

    explicit ScopedEnvironment(const Settings& settings) {
        for (const auto& [name, value] : settings) {
            if (!saved_.contains(name)) {
                const char* previous = std::getenv(name.c_str());
                saved_.emplace(name, previous ? std::optional<std::string>(previous) : std::nullopt);
            }
            apply(name, value);
        }
    }
    ~ScopedEnvironment() {
        for (const auto& [name, value] : saved_) {
            apply(name, value);
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    static void apply(const std::string& name, const std::optional<std::string>& value) {
        if (value) {
            ::setenv(name.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name.c_str());
        }
    }

    std::map<std::string, std::optional<std::string>> saved_;
};

} // namespace velmor::testing
