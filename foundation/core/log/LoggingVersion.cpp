#include "foundation/core/log/LoggingVersion.hpp"

namespace velmor {

namespace {

std::string infoText(const Bundle& bundle, const std::string& key) {
    auto value = bundle.objectForInfoDictionaryKey(key);
    auto text = value ? value->get<std::string>() : nullptr;
    return text ? *text : "N/A";
}

} // namespace

std::string loggingVersion(const Bundle& bundle) {
    return "v" + infoText(bundle, "CFBundleShortVersionString") + " (" + infoText(bundle, "CFBundleVersion") +
           ")";
}

} // namespace velmor
