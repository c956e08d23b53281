#pragma once

#include "foundation/core/log/Logger.hpp"
#include "foundation/services/abtesting/ABTestingEngineLocations.hpp"
#include "foundation/services/abtesting/JSONFeatureSetProvider.hpp"
#include "platform/error/Error.hpp"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace velmor {

using Activation = std::map<std::string, bool>;

// The stored draws ("rates", 1...100) and what they gave ("activation").
struct LocalSync {
    Activation activation;
    std::map<std::string, std::int64_t> rates;
    friend bool operator==(const LocalSync&, const LocalSync&) = default;
};

// Decides once per machine and feature whether a feature under test is on: draws 1...100 for
// each new feature of the remote file, keeps the draws in the local sync file, mirrors the
// activation as flag files and announces changes to every process.
class ABTestingEngine {
public:
    static constexpr const char* notificationName = "com.velmor.ABTestingfeaturesDidChange";

    enum class Error { remoteFeatureFileUnavailable, wrongRemoteFileFormat, wrongLocalFileFormat };

    // Features taken from one remote file, the first ones by name; the rest are left out.
    static constexpr std::size_t maximumFeatureCount = 1000;

    struct UpdateResult {
        enum class Kind { unchanged, updated };
        Kind kind;
        Activation activation;
        friend bool operator==(const UpdateResult&, const UpdateResult&) = default;
    };

    ABTestingEngine(ABTestingEngineLocations locations, std::string product,
                    const LoggerFactory& loggerFactory);
    // For tests: a session with other trusted roots and time-out.
    ABTestingEngine(ABTestingEngineLocations locations, std::string product,
                    const LoggerFactory& loggerFactory, URLSessionConfiguration session);
    ABTestingEngine(const ABTestingEngine&) = delete;
    ABTestingEngine& operator=(const ABTestingEngine&) = delete;

    // Blocks for the download. Throws `TypedError<Error>` or, when the sync file cannot be
    // written, `ErrorException` with the file's error.
    UpdateResult updateFeatures();
    // The stored activation; empty when there is none or it cannot be read.
    Activation activation() const;

    std::function<void()> featuresDidChange() const;
    void setFeaturesDidChange(std::function<void()> closure);

    const ABTestingEngineLocations& locations() const { return locations_; }
    const std::string& flagFilesPrefix() const { return flagFilesPrefix_; }
    const URL& localSyncFileURL() const { return localSyncFileURL_; }

    // A uniform draw in 1...100 from the system's random source.
    static std::int64_t draw();

private:
    // Shared with the notification observer, which outlives the engine.
    struct Callback {
        mutable std::mutex mutex;
        std::function<void()> closure = [] {};
    };

    LocalSync readLocalSync(int folder) const;
    void updateFlagFiles(const Activation& activation, const std::vector<std::string>& removed) const;
    void writeLocalSync(int folder, const std::string& text) const;

    ABTestingEngineLocations locations_;
    std::string flagFilesPrefix_;
    URL localSyncFileURL_;
    std::string product_;
    std::unique_ptr<FeatureFilesHandler> provider_;
    std::shared_ptr<Logger> logger_;
    std::shared_ptr<Callback> featuresDidChange_ = std::make_shared<Callback>();
};

template <> struct ErrorDomain<ABTestingEngine::Error> {
    static constexpr const char* value = "VelmorFoundation.ABTestingEngine.Error";
};

// "[\"a\": true, \"b\": false]", "[:]" when empty.
std::string describe(const Activation& activation);

} // namespace velmor
