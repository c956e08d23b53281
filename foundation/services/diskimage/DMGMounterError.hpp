#pragma once

#include "platform/error/Error.hpp"

#include <memory>
#include <string>

namespace velmor {

class DMGMount;

// The failures of the disk-image operations. Time-outs of a tool run are `DMGMount::DMGMountError`.
class DMGMounterError : public ComponentError {
public:
    enum class Case { otherError, alreadyMounted, invalidArguments, timeout, noPartitionsAvailable, failedToDetach };

    // The tool's output as text: "stdout: ..." then "\nstderr: ...".
    static DMGMounterError otherError(std::string hdiutilOutput);
    // The image was attached already; `mount` describes that attachment.
    static DMGMounterError alreadyMounted(std::shared_ptr<DMGMount> mount);
    static DMGMounterError invalidArguments() { return DMGMounterError(Case::invalidArguments); }
    static DMGMounterError timeout() { return DMGMounterError(Case::timeout); }
    static DMGMounterError noPartitionsAvailable() { return DMGMounterError(Case::noPartitionsAvailable); }
    static DMGMounterError failedToDetach() { return DMGMounterError(Case::failedToDetach); }

    Case kind() const { return case_; }
    // Empty unless the case is `otherError`.
    const std::string& hdiutilOutput() const { return hdiutilOutput_; }
    // Null unless the case is `alreadyMounted`.
    const std::shared_ptr<DMGMount>& mount() const { return mount_; }

    // Domain "VelmorFoundation.DMGMounterError", the case's index as code.
    Error toError() const override;

private:
    explicit DMGMounterError(Case kind) : case_(kind) {}

    Case case_;
    std::string hdiutilOutput_;
    std::shared_ptr<DMGMount> mount_;
};

} // namespace velmor
