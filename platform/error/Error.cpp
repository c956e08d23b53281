#include "platform/error/Error.hpp"

#include <cstring>

namespace velmor {

Error::Error(std::string domain, std::int64_t code, UserInfo userInfo)
    : domain_(std::move(domain)), code_(code), userInfo_(std::move(userInfo)) {}

bool Error::isKnownPosixCode(int code) {
    return code > 0 && ::strerrordesc_np(code) != nullptr;
}

Error Error::posix(int code, int fallback) {
    return Error(posixDomain, isKnownPosixCode(code) ? code : fallback);
}

Error Error::posixForPath(int code, const std::string& path) {
    Error error = posix(code);
    error.userInfo_.emplace(filePathKey, path);
    return error;
}

const std::string* Error::stringValue(const std::string& key) const {
    auto found = userInfo_.find(key);
    if (found == userInfo_.end()) {
        return nullptr;
    }
    return std::get_if<std::string>(&found->second);
}

std::shared_ptr<const Error> Error::underlyingError() const {
    auto found = userInfo_.find(underlyingErrorKey);
    if (found == userInfo_.end()) {
        return nullptr;
    }
    auto nested = std::get_if<std::shared_ptr<const Error>>(&found->second);
    return nested ? *nested : nullptr;
}

std::string Error::description() const {
    if (auto text = stringValue(localizedDescriptionKey)) {
        return *text;
    }
    std::string text;
    if (domain_ == posixDomain && code_ > 0 && code_ <= INT32_MAX &&
        isKnownPosixCode(static_cast<int>(code_))) {
        text = ::strerrordesc_np(static_cast<int>(code_));
    } else {
        text = "The operation couldn't be completed. (" + domain_ + " error " + std::to_string(code_) + ".)";
    }
    if (auto reason = stringValue(localizedFailureReasonKey); reason && !reason->empty()) {
        text += " " + *reason;
    }
    return text;
}

namespace {

bool sameValue(const UserInfoValue& a, const UserInfoValue& b) {
    if (a.index() != b.index()) {
        return false;
    }
    if (auto nestedA = std::get_if<std::shared_ptr<const Error>>(&a)) {
        auto nestedB = std::get<std::shared_ptr<const Error>>(b);
        if (!*nestedA || !nestedB) {
            return !*nestedA && !nestedB;
        }
        return **nestedA == *nestedB;
    }
    return a == b;
}

} // namespace

bool operator==(const Error& a, const Error& b) {
    if (a.domain_ != b.domain_ || a.code_ != b.code_ || a.userInfo_.size() != b.userInfo_.size()) {
        return false;
    }
    for (auto itA = a.userInfo_.begin(), itB = b.userInfo_.begin(); itA != a.userInfo_.end(); ++itA, ++itB) {
        if (itA->first != itB->first || !sameValue(itA->second, itB->second)) {
            return false;
        }
    }
    return true;
}

const char* ComponentError::what() const noexcept {
    if (what_.empty()) {
        try {
            Error error = toError();
            what_ = error.domain() + " " + std::to_string(error.code()) + ": " + error.description();
        } catch (...) {
            return "component error";
        }
    }
    return what_.c_str();
}

Error errorFromException(std::exception_ptr exception) {
    try {
        std::rethrow_exception(exception);
    } catch (const ComponentError& error) {
        return error.toError();
    } catch (const std::exception& error) {
        return Error("velmor.CppException", 0, {{Error::localizedDescriptionKey, std::string(error.what())}});
    } catch (...) {
        return Error("velmor.CppException", 0,
                     {{Error::localizedDescriptionKey, std::string("Unknown exception")}});
    }
}

void throwPosixError(int code, int fallback) {
    throw ErrorException(Error::posix(code, fallback));
}

} // namespace velmor
