#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace marrowdale {

// A build version as the update feed and the information dictionary write it: numbers separated by
// dots ("1", "1.10", "2.0.3"). Trailing zeros do not count: "1.2" and "1.2.0" are the same version.
class UpdateVersion {
public:
    // Nothing unless `text` is one or more runs of decimal digits joined by single dots.
    static std::optional<UpdateVersion> parse(std::string_view text);

    friend bool operator==(const UpdateVersion&, const UpdateVersion&) = default;
    friend auto operator<=>(const UpdateVersion&, const UpdateVersion&) = default;

private:
    explicit UpdateVersion(std::vector<std::uint64_t> parts) : parts_(std::move(parts)) {}

    // Without trailing zeros, so that the default comparisons are the version order.
    std::vector<std::uint64_t> parts_;
};

} // namespace marrowdale
