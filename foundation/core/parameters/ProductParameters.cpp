#include "foundation/core/parameters/ProductParameters.hpp"

#include "platform/error/Error.hpp"
#include "platform/fs/FileName.hpp"
#include "platform/fs/UserDirectories.hpp"

namespace velmor::parameters_detail {

std::string resourceName(const std::optional<std::string>& name) {
    return name ? "parameters-" + *name : "parameters";
}

std::optional<URL> userOverrideURL(const Bundle& bundle, const std::string& resourceName) {
    auto identifier = bundle.bundleIdentifier();
    // The identifier comes from the bundle's data and becomes a folder name: it must stay one.
    if (!identifier || !isPlainFileName(*identifier)) {
        return std::nullopt;
    }
    auto configuration = userConfigurationDirectory();
    if (!configuration) {
        return std::nullopt;
    }
    return configuration->appendingPathComponent("Velmor")
        .appendingPathComponent(*identifier)
        .appendingPathComponent(resourceName + ".plist");
}

std::string describe(std::exception_ptr error) {
    return errorFromException(error).description();
}

} // namespace velmor::parameters_detail
