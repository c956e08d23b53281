#pragma once

#include "foundation/services/abtesting/ABTestingEngine.hpp"

#include <memory>
#include <optional>

namespace velmor {

// The outcome of one update, as handed to callers outside C++.
class ABTestingUpdateResult {
public:
    // The new activation after a change; nothing when the update changed nothing.
    std::optional<Activation> updatedFeatures() const;

private:
    friend class ABTestingQ4;
    explicit ABTestingUpdateResult(ABTestingEngine::UpdateResult result) : result(std::move(result)) {}
    ABTestingEngine::UpdateResult result;
};

// The Q4 product's engine behind a thin interface for callers outside C++: failures come back as
// `Error` values instead of exceptions.
class ABTestingQ4 {
public:
    ABTestingQ4();
    // For tests: another engine.
    explicit ABTestingQ4(std::shared_ptr<ABTestingEngine> engine) : engine(std::move(engine)) {}

    // Nothing, and `*error` set when given, when the update failed.
    std::optional<ABTestingUpdateResult> update(velmor::Error* error = nullptr);
    Activation activation() const { return engine->activation(); }
    std::function<void()> featuresDidChange() const { return engine->featuresDidChange(); }
    void setFeaturesDidChange(std::function<void()> closure) {
        engine->setFeaturesDidChange(std::move(closure));
    }

    std::shared_ptr<ABTestingEngine> engine;
};

} // namespace velmor
