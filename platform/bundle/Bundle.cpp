#include "platform/bundle/Bundle.hpp"

#include "platform/bundle/PreferredLanguages.hpp"

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

// The top-level dictionary of the property list at `url`; nothing when there is no such file or it
// holds no readable dictionary.
std::optional<coding::Object> readDictionary(const URL& url) {
    std::ifstream file(url.path(), std::ios::binary);
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
        // An unreadable file is treated as none.
    }
    return std::nullopt;
}

std::string developmentRegion(const std::optional<coding::Object>& info) {
    const coding::Value* region = info ? info->find("CFBundleDevelopmentRegion") : nullptr;
    const std::string* text = region ? region->get<std::string>() : nullptr;
    return text && !text->empty() ? *text : "en";
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

Bundle::Bundle(URL bundleURL)
    : url_(std::move(bundleURL)), info_(readDictionary(url_.appendingPathComponent("Info.plist"))) {
    std::vector<std::string> languages = preferredLanguages();
    languages.push_back(developmentRegion(info_));
    for (const auto& language : languages) {
        auto table = readDictionary(url_.appendingPathComponent("Resources")
                                        .appendingPathComponent(language + ".lproj")
                                        .appendingPathComponent("Localizable.strings"));
        if (!table) {
            continue;
        }
        StringTable texts;
        for (const auto& [key, value] : *table) {
            if (auto text = value.get<std::string>()) {
                texts.emplace(key, *text);
            }
        }
        stringTables_.push_back(std::move(texts));
    }
}

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

std::string Bundle::localizedString(const std::string& key) const {
    for (const auto& table : stringTables_) {
        if (auto found = table.find(key); found != table.end()) {
            return found->second;
        }
    }
    return key;
}

std::string Bundle::localizedString(const std::string& key, const std::string& argument) const {
    std::string text = localizedString(key);
    if (auto placeholder = text.find("%@"); placeholder != std::string::npos) {
        text.replace(placeholder, 2, argument);
    }
    return text;
}

} // namespace velmor
