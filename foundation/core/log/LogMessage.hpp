#pragma once

#include <concepts>
#include <memory>
#include <string>
#include <type_traits>

namespace velmor {

// A message handed to a logger unevaluated: a reference to a callable yielding the text. A logger
// that drops the message never runs it, so building the text costs nothing then. It refers to the
// caller's closure without copying it, so it is valid only during the logging call.
class LogMessage {
public:
    template <typename F>
    requires(!std::same_as<std::remove_cvref_t<F>, LogMessage> && std::invocable<const F&> &&
             std::convertible_to<std::invoke_result_t<const F&>, std::string>)
        LogMessage(const F& closure) // NOLINT: implicit, so that a lambda is passed as it is
        : closure_(std::addressof(closure)),
          call_([](const void* object) -> std::string { return (*static_cast<const F*>(object))(); }) {}

    std::string operator()() const { return call_(closure_); }

private:
    const void* closure_;
    std::string (*call_)(const void*);
};

} // namespace velmor
