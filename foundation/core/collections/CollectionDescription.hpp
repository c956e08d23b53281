#pragma once

#include "platform/format/DateFormatter.hpp"
#include "platform/text/QuotedText.hpp"

#include <concepts>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace velmor::collectionDescription {

// An element as a collection's description shows it: text quoted, numbers as they read, anything
// else through its stream operator.
template <typename T>
concept Describable = std::convertible_to<const T&, std::string_view> || std::is_arithmetic_v<T> ||
    requires(std::ostream& stream, const T& value) {
    stream << value;
};

template <Describable T> std::string describe(const T& value) {
    if constexpr (std::convertible_to<const T&, std::string_view>) {
        return quotedDescription(value);
    } else if constexpr (std::same_as<T, bool>) {
        return value ? "true" : "false";
    } else if constexpr (std::is_floating_point_v<T>) {
        return shortestDescription(static_cast<double>(value));
    } else if constexpr (std::is_integral_v<T>) {
        return std::to_string(value);
    } else {
        std::ostringstream stream;
        stream << value;
        return stream.str();
    }
}

// "[a, b]": the elements of an array or set, in their order.
template <typename Elements> std::string describeElements(const Elements& elements) {
    std::string text = "[";
    for (const auto& element : elements) {
        if (text.size() > 1) {
            text += ", ";
        }
        text += describe(element);
    }
    return text + "]";
}

// "[k: v, ...]", or "[:]" when empty.
template <typename Dictionary> std::string describeEntries(const Dictionary& dictionary) {
    if (dictionary.empty()) {
        return "[:]";
    }
    std::string text = "[";
    for (const auto& [key, value] : dictionary) {
        if (text.size() > 1) {
            text += ", ";
        }
        text += describe(key) + ": " + describe(value);
    }
    return text + "]";
}

} // namespace velmor::collectionDescription
