#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace velmor::testing {

// The whole content of the file at `path` ("" when it cannot be read).
inline std::string contentsOf(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// Every entry below `folder`, sorted, each file with its content ("path = content"): two snapshots
// are equal when nothing in the tree changed.
inline std::vector<std::string> snapshot(const std::string& folder) {
    std::vector<std::string> entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        std::string line = entry.path().string();
        if (entry.is_regular_file() && !entry.is_symlink()) {
            line += " = " + contentsOf(entry.path());
        }
        entries.push_back(line);
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

} // namespace velmor::testing
