#pragma once

#include "foundation/core/log/Logger.hpp"
#include "platform/bundle/Bundle.hpp"
#include "platform/coding/Decoding.hpp"
#include "platform/coding/PropertyList.hpp"
#include "platform/fs/FileContents.hpp"

#include <concepts>
#include <exception>
#include <optional>
#include <string>

namespace velmor {

// A product's tunable settings: decodable from a property list, and able to take in a set of user
// overrides of the same type (which fields an override replaces is the type's own rule).
template <typename T>
concept ProductParameters = requires(T& parameters, const T& overrides, const coding::Decoder& decoder) {
    { coding::Coding<T>::decode(decoder) } -> std::convertible_to<T>;
    parameters.apply(overrides);
};

namespace parameters_detail {

// Parameters are settings written by hand; a file past this is refused unread.
inline constexpr std::size_t fileSizeLimit = 4 << 20;

// "parameters", or "parameters-" + name.
std::string resourceName(const std::optional<std::string>& name);
// <configuration folder>/Velmor/<bundle identifier>/<resource name>.plist; nothing without a
// configuration folder or a usable bundle identifier.
std::optional<URL> userOverrideURL(const Bundle& bundle, const std::string& resourceName);
// What a log line says of a caught failure.
std::string describe(std::exception_ptr error);

template <typename T> T decodePropertyList(const std::string& bytes) {
    coding::Value tree = coding::fromPropertyList(bytes);
    return coding::decode<T>(tree);
}

} // namespace parameters_detail

// Loads a product's parameters from the resource "parameters[-name].plist" of `bundle` and, when
// `overridableByUser`, merges in the user's file of the same name below
// $XDG_CONFIG_HOME/Velmor/<bundle identifier>/. Never throws: a missing resource gives nothing; an
// unusable one gives nothing and an error line; a missing or unreadable user file is ignored; one
// that does not decode is logged and leaves the base value as it was.
template <ProductParameters T>
std::optional<T> loadProductParameters(const Bundle& bundle, const std::optional<std::string>& name,
                                       bool overridableByUser, const Logger& logger) {
    const std::string resourceName = parameters_detail::resourceName(name);
    auto baseURL = bundle.urlForResource(resourceName, "plist");
    if (!baseURL) {
        return std::nullopt;
    }
    std::optional<T> parameters;
    try {
        auto bytes = readFileIfPresent(baseURL->path(), parameters_detail::fileSizeLimit);
        if (!bytes) {
            return std::nullopt; // gone since the bundle was asked
        }
        parameters.emplace(parameters_detail::decodePropertyList<T>(*bytes));
    } catch (...) {
        auto error = std::current_exception();
        logger.error([&] {
            return "Cannot load parameters for bundle " + bundle.description() + ": " +
                   parameters_detail::describe(error);
        });
        return std::nullopt;
    }
    if (!overridableByUser) {
        return parameters;
    }
    auto overrideURL = parameters_detail::userOverrideURL(bundle, resourceName);
    if (!overrideURL) {
        return parameters;
    }
    std::optional<std::string> overrideBytes;
    try {
        overrideBytes = readFileIfPresent(overrideURL->path(), parameters_detail::fileSizeLimit);
    } catch (...) {
        // An unreadable user file is treated like a missing one.
    }
    if (!overrideBytes) {
        return parameters;
    }
    try {
        // Merged into a copy, so that a merge that fails halfway leaves the base value as it was.
        T merged = *parameters;
        merged.apply(parameters_detail::decodePropertyList<T>(*overrideBytes));
        parameters = std::move(merged);
    } catch (...) {
        auto error = std::current_exception();
        logger.error([&] {
            return "Cannot load parameters overrides from " + overrideURL->absoluteString() + ": " +
                   parameters_detail::describe(error);
        });
    }
    return parameters;
}

} // namespace velmor
