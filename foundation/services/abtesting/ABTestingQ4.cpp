#include "foundation/services/abtesting/ABTestingQ4.hpp"

#include "foundation/core/log/OSLogLogger.hpp"

namespace velmor {

std::optional<Activation> ABTestingUpdateResult::updatedFeatures() const {
    if (result.kind == ABTestingEngine::UpdateResult::Kind::updated) {
        return result.activation;
    }
    return std::nullopt;
}

ABTestingQ4::ABTestingQ4()
    : engine(
          std::make_shared<ABTestingEngine>(ABTestingEngineLocations::q4(), "Q4", OSLogLogger::factory())) {}

std::optional<ABTestingUpdateResult> ABTestingQ4::update(velmor::Error* error) {
    try {
        return ABTestingUpdateResult(engine->updateFeatures());
    } catch (const ComponentError& failure) {
        if (error != nullptr) {
            *error = failure.toError();
        }
        return std::nullopt;
    }
}

} // namespace velmor
