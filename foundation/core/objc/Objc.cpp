#include "foundation/core/objc/Objc.hpp"

namespace velmor {

Error Objc::errorFromException(const Exception& exception) {
    UserInfo userInfo = exception.userInfo();
    const std::string& reason = exception.reason();
    if (!reason.empty()) {
        auto existing = userInfo.find(Error::localizedFailureReasonKey);
        auto* existingText =
            existing == userInfo.end() ? nullptr : std::get_if<std::string>(&existing->second);
        if (existingText == nullptr || existingText->empty()) {
            userInfo[Error::localizedFailureReasonKey] = reason;
        } else {
            userInfo[privateFailureReasonKey] = reason;
        }
    }
    return Error(exception.name(), 0, std::move(userInfo));
}

bool Objc::throwing(const std::function<void()>& block, Error& error) {
    try {
        block();
    } catch (const Exception& exception) {
        error = errorFromException(exception);
        return false;
    }
    return true;
}

void Objc::throwing(const std::function<void()>& block) {
    Error error;
    if (!throwing(block, error)) {
        throw ErrorException(std::move(error));
    }
}

} // namespace velmor
