#pragma once

#include "platform/testing/TemporaryDirectory.hpp"

#include <string>

namespace velmor::testing {

// An XML property list whose top-level dictionary holds `entries` (keys and values written out).
inline std::string infoPlistText(const std::string& entries) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" + entries +
           "</dict></plist>\n";
}

// Makes `directory` a bundle whose information dictionary holds `entries`.
inline void writeInfoPlist(const TemporaryDirectory& directory, const std::string& entries) {
    directory.writeFile("Info.plist", infoPlistText(entries));
}

} // namespace velmor::testing
