#include "platform/concurrency/CheckedContinuation.hpp"

#include "platform/error/FatalError.hpp"

#include <cstdio>
#include <stdexcept>

namespace velmor::detail {

void continuationResumedTwice(const std::string& label) {
    fatalError("continuation of " + label + " resumed more than once");
}

std::exception_ptr continuationLeaked(const std::string& label) {
    std::string message = "continuation of " + label + " was dropped without being resumed";
    std::fprintf(stderr, "%s\n", message.c_str());
    return std::make_exception_ptr(std::logic_error(message));
}

} // namespace velmor::detail
