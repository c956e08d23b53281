#include "platform/bundle/Bundle.hpp"

#include "platform/coding/Decoding.hpp"
#include "platform/coding/PropertyList.hpp"

#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace velmor {

namespace {

std::optional<coding::Object> readInfoDictionary(const URL& bundleURL) {
    std::ifstream file(bundleURL.appendingPathComponent("Info.plist").path(), std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    try {
        coding::Value root = coding::fromPropertyList(bytes);
        if (auto dictionary = root.get<coding::Object>()) {
            return *dictionary;
        }
    } catch (const coding::DecodingError&) {
        // An unreadable information dictionary is treated as none.
    }
    return std::nullopt;
}

std::string executableFolder() {
    char buffer[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) {
        return "";
    }
    return URL::fileURL(std::string(buffer, static_cast<std::size_t>(length)))
        .deletingLastPathComponent()
        .path();
}

} // namespace

Bundle::Bundle(URL bundleURL) : url_(std::move(bundleURL)), info_(readInfoDictionary(url_)) {}

const Bundle& Bundle::main() {
    static const Bundle bundle(mainBundleURL());
    return bundle;
}

URL Bundle::mainBundleURL() {
    const char* configured = std::getenv(mainBundleEnvironmentKey);
    if (configured != nullptr && *configured != '\0') {
        return URL::fileURL(configured);
    }
    return URL::fileURL(executableFolder());
}

const coding::Value* Bundle::objectForInfoDictionaryKey(const std::string& key) const {
    return info_ ? info_->find(key) : nullptr;
}

std::optional<URL> Bundle::urlForResource(const std::string& name, const std::string& extension) const {
    const std::string fileName = extension.empty() ? name : name + "." + extension;
    URL candidate = url_.appendingPathComponent("Resources").appendingPathComponent(fileName);
    struct ::stat record {};
    if (::stat(candidate.path().c_str(), &record) != 0 || !S_ISREG(record.st_mode)) {
        return std::nullopt;
    }
    return candidate;
}

std::optional<std::string> Bundle::bundleIdentifier() const {
    auto value = objectForInfoDictionaryKey("CFBundleIdentifier");
    if (auto text = value ? value->get<std::string>() : nullptr) {
        return *text;
    }
    return std::nullopt;
}

} // namespace velmor
