#pragma once

#include "sdk/filesystem/Event.hpp"

#include <functional>
#include <optional>
#include <string>

namespace sweepkit::pipeline {

// Groups bundle folders by identity: bundle identifier, version (CFBundleVersion) and signing team.
// A folder without an identifier or a version text belongs to no group. Linux has no code-signing
// service, so the team is always absent and copies group by identifier and version alone.
struct BundleIdAndVersionGroupper {
    struct BundleIdAndVersion {
        std::string bundleId;
        std::string bundleBuildNumber;
        std::optional<std::string> signatureTeamIdentifier;

        friend bool operator==(const BundleIdAndVersion&, const BundleIdAndVersion&) = default;
    };
    using IdentifierType = BundleIdAndVersion;

    std::optional<IdentifierType> identifier(const Event& event) const;
};

} // namespace sweepkit::pipeline

template <> struct std::hash<sweepkit::pipeline::BundleIdAndVersionGroupper::BundleIdAndVersion> {
    std::size_t operator()(
        const sweepkit::pipeline::BundleIdAndVersionGroupper::BundleIdAndVersion& identity) const noexcept;
};
