#pragma once

#include "platform/testing/HostilePropertyLists.hpp"
#include "platform/testing/InfoPlist.hpp"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace velmor::testing {

// Something planted where a reader expects a property-list file, which it must refuse without
// crashing, hanging or reading on without end.
struct HostileFile {
    std::string what;
    // Puts the entry at `path`, whose folder exists, replacing what is there.
    std::function<void(const std::string& path)> plant;
};

inline void writeWholeFile(const std::string& path, const std::string& contents) {
    std::filesystem::remove_all(path);
    std::ofstream(path, std::ios::binary) << contents;
}

// The hostile binary property lists, an XML one with an entity reference, a FIFO, a folder, and an
// XML dictionary of `entries` that would read well but is padded past `sizeLimit` bytes.
inline std::vector<HostileFile> hostileFiles(std::size_t sizeLimit, const std::string& entries = "") {
    std::vector<HostileFile> files;
    for (auto& list : hostileBinaryPropertyLists()) {
        files.push_back({list.what, [bytes = std::move(list.bytes)](const std::string& path) {
                             writeWholeFile(path, bytes);
                         }});
    }
    files.push_back({"an entity reference", [](const std::string& path) {
                         writeWholeFile(path, "<!DOCTYPE plist [<!ENTITY a9 \"x\">]><plist><dict><key>k</key>"
                                              "<string>&a9;</string></dict></plist>");
                     }});
    files.push_back({"a FIFO", [](const std::string& path) {
                         std::filesystem::remove_all(path);
                         if (::mkfifo(path.c_str(), 0644) != 0) {
                             throw std::runtime_error("cannot make a FIFO at " + path);
                         }
                     }});
    files.push_back({"a folder", [](const std::string& path) {
                         std::filesystem::remove_all(path);
                         std::filesystem::create_directory(path);
                     }});
    files.push_back({"a file over the size limit", [sizeLimit, entries](const std::string& path) {
                         std::string text = infoPlistText(entries);
                         text.insert(text.find("</dict>"), sizeLimit + 1 - std::min(sizeLimit, text.size()),
                                     ' ');
                         writeWholeFile(path, text);
                     }});
    return files;
}

} // namespace velmor::testing
