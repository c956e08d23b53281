#include "foundation/services/diskimage/DMGMounterError.hpp"

#include "foundation/services/diskimage/DMGMount.hpp"

namespace velmor {

DMGMounterError DMGMounterError::otherError(std::string hdiutilOutput) {
    DMGMounterError error(Case::otherError);
    error.hdiutilOutput_ = std::move(hdiutilOutput);
    return error;
}

DMGMounterError DMGMounterError::alreadyMounted(std::shared_ptr<DMGMount> mount) {
    DMGMounterError error(Case::alreadyMounted);
    error.mount_ = std::move(mount);
    return error;
}

Error DMGMounterError::toError() const {
    return Error("VelmorFoundation.DMGMounterError", static_cast<std::int64_t>(case_));
}

} // namespace velmor
