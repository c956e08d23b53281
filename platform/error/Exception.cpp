#include "platform/error/Exception.hpp"

namespace velmor {

Exception::Exception(std::string name, std::string reason, UserInfo userInfo)
    : name_(std::move(name)), reason_(std::move(reason)), userInfo_(std::move(userInfo)),
      what_(reason_.empty() ? name_ : name_ + ": " + reason_) {}

} // namespace velmor
