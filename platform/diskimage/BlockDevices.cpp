#include "platform/diskimage/BlockDevices.hpp"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>

namespace velmor {

namespace {

std::string lastComponent(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool entryExists(const std::string& path) {
    struct ::stat record {};
    return ::stat(path.c_str(), &record) == 0;
}

// The first line of a sysfs attribute, without its line feed.
std::optional<std::string> readAttribute(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    if (!file || !std::getline(file, line)) {
        return std::nullopt;
    }
    return line;
}

} // namespace

std::optional<std::string> BlockDevices::kernelName(const std::string& devEntry) const {
    std::string name = lastComponent(devEntry);
    if (devEntry.find('/') != std::string::npos) {
        // A link such as /dev/disk/by-label/Data names the node it points to.
        char buffer[PATH_MAX];
        if (::realpath(devEntry.c_str(), buffer) != nullptr) {
            name = lastComponent(buffer);
        }
    }
    if (name.empty() || name == "." || name == ".." || !entryExists(root_ + "/" + name)) {
        return std::nullopt;
    }
    return name;
}

std::optional<std::string> BlockDevices::wholeDiskName(const std::string& devEntry) const {
    const auto name = kernelName(devEntry);
    if (!name) {
        return std::nullopt;
    }
    const std::string entry = root_ + "/" + *name;
    if (!entryExists(entry + "/partition")) {
        return name;
    }
    // A partition's entry sits inside its disk's folder.
    char buffer[PATH_MAX];
    if (::realpath((entry + "/..").c_str(), buffer) == nullptr) {
        return std::nullopt;
    }
    return lastComponent(buffer);
}

bool BlockDevices::isLoopDevice(const std::string& diskName) const {
    return !diskName.empty() && diskName.find('/') == std::string::npos && entryExists(root_ + "/" + diskName) &&
           diskName.rfind("loop", 0) == 0 && !entryExists(root_ + "/" + diskName + "/partition");
}

std::optional<std::string> BlockDevices::backingFile(const std::string& diskName) const {
    if (!isLoopDevice(diskName)) {
        return std::nullopt;
    }
    auto file = readAttribute(root_ + "/" + diskName + "/loop/backing_file");
    if (!file || file->empty()) {
        return std::nullopt;
    }
    return file;
}

bool BlockDevices::isFreedAtLastClose(const std::string& devEntry) const {
    const std::string name = lastComponent(devEntry);
    return isLoopDevice(name) && readAttribute(root_ + "/" + name + "/loop/autoclear") == "1";
}

std::optional<std::uint64_t> BlockDevices::attachSequence(const std::string& diskName) const {
    if (diskName.empty() || diskName.find('/') != std::string::npos) {
        return std::nullopt;
    }
    auto text = readAttribute(root_ + "/" + diskName + "/diskseq");
    if (!text) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (error != std::errc() || end != text->data() + text->size()) {
        return std::nullopt;
    }
    return value;
}

} // namespace velmor
