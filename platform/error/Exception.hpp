#pragma once

#include "platform/error/Error.hpp"

#include <exception>
#include <string>

namespace velmor {

// The exception that some platform calls raise instead of returning an error: a name that says
// what kind of failure it is, a reason for people to read, and a dictionary of details. Code that
// must turn it into an `Error` catches it with the bridge in the foundation library.
class Exception : public std::exception {
public:
    Exception(std::string name, std::string reason, UserInfo userInfo = {});

    const std::string& name() const { return name_; }
    const std::string& reason() const { return reason_; }
    const UserInfo& userInfo() const { return userInfo_; }

    // "<name>: <reason>", or the name alone when there is no reason.
    const char* what() const noexcept override { return what_.c_str(); }

private:
    std::string name_;
    std::string reason_;
    UserInfo userInfo_;
    std::string what_;
};

} // namespace velmor
