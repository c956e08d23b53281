#include "sdk/duplicates/pipeline/BundleIdAndVersionGroupper.hpp"

#include "platform/bundle/Bundle.hpp"
#include "platform/hashing/HashCombine.hpp"

namespace sweepkit::pipeline {

std::optional<BundleIdAndVersionGroupper::IdentifierType>
BundleIdAndVersionGroupper::identifier(const Event& event) const {
    const velmor::Bundle bundle(event.url());
    auto bundleId = bundle.bundleIdentifier();
    if (!bundleId) {
        return std::nullopt;
    }
    const velmor::coding::Value* version = bundle.objectForInfoDictionaryKey("CFBundleVersion");
    const std::string* versionText = version ? version->get<std::string>() : nullptr;
    if (versionText == nullptr) {
        return std::nullopt;
    }
    // No code-signing service to ask for a team on Linux: every bundle counts as unsigned.
    return BundleIdAndVersion{std::move(*bundleId), *versionText, std::nullopt};
}

} // namespace sweepkit::pipeline

std::size_t std::hash<sweepkit::pipeline::BundleIdAndVersionGroupper::BundleIdAndVersion>::operator()(
    const sweepkit::pipeline::BundleIdAndVersionGroupper::BundleIdAndVersion& identity) const noexcept {
    std::size_t seed = std::hash<std::string>{}(identity.bundleId);
    velmor::hashCombine(seed, std::hash<std::string>{}(identity.bundleBuildNumber));
    // Absent and present teams hash apart, as they compare apart.
    velmor::hashCombine(seed, identity.signatureTeamIdentifier ? 1 : 0);
    if (identity.signatureTeamIdentifier) {
        velmor::hashCombine(seed, std::hash<std::string>{}(*identity.signatureTeamIdentifier));
    }
    return seed;
}
