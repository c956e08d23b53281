#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace velmor {

using FeatureSet = std::map<std::string, std::int64_t>;

// How downloads are made: no cache, no cookies, certificates checked against the system's roots,
// or against `trustedRootsPEM` when that is given (tests trust their own server this way).
struct URLSessionConfiguration {
    std::string trustedRootsPEM;
    long timeoutSeconds = 60;
};

// What the engine asks of its provider.
class FeatureFilesHandler {
public:
    virtual ~FeatureFilesHandler() = default;
    // The remote feature set; throws `TypedError<ABTestingEngine::Error>`.
    virtual FeatureSet fetchFeatureSet(const std::string& url) const = 0;
};

class JSONFeatureSetProvider : public FeatureFilesHandler {
public:
    // A feature file is a few kilobytes; a larger download is refused as unavailable.
    static constexpr std::size_t maximumFileSize = 4 << 20;

    explicit JSONFeatureSetProvider(URLSessionConfiguration session) : session(std::move(session)) {}
    FeatureSet fetchFeatureSet(const std::string& url) const override;

    URLSessionConfiguration session;
};

} // namespace velmor
