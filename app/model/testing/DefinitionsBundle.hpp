#pragma once

#include "platform/testing/TemporaryDirectory.hpp"

#include <string>
#include <vector>

namespace marrowdale::testing {

// Conditions of a definition, as the categories' property list writes them.
inline const std::string deletableCondition = "<dict><key>fileIsDeletable</key><dict/></dict>";
inline std::string largerThanCondition(long long bytes) {
    return "<dict><key>fileSizeGreater</key><dict><key>than</key><integer>" + std::to_string(bytes) +
           "</integer></dict></dict>";
}

// One category definition searching the absolute `path` with `conditions` by walking the tree.
inline std::string definitionEntry(const std::string& id, const std::string& path,
                                   const std::string& conditions) {
    return "<dict><key>id</key><string>" + id + "</string><key>type</key><string>custom</string>" +
           "<key>paths</key><array><string>" + path + "</string></array>" +
           "<key>deleteEmptyFolders</key><false/><key>conditions</key>" + conditions +
           "<key>engines</key><array><dict><key>fileTraversal</key><dict/></dict></array></dict>";
}

// Makes `bundle` a bundle whose category definitions are `entries`, for a cleaner to load.
inline void writeDefinitions(const velmor::testing::TemporaryDirectory& bundle,
                             const std::vector<std::string>& entries) {
    std::string list;
    for (const auto& entry : entries) {
        list += entry;
    }
    bundle.writeFile("Resources/parameters-categories.plist",
                     "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
                     "<key>categories</key><array>" +
                         list + "</array></dict></plist>");
}

} // namespace marrowdale::testing
