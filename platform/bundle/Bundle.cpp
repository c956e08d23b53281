#include "platform/bundle/Bundle.hpp"

#include "platform/bundle/PreferredLanguages.hpp"

#include "platform/coding/Decoding.hpp"
#include "platform/coding/PropertyList.hpp"
#include "platform/fs/Descriptor.hpp"
#include "platform/fs/FileContents.hpp"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmor {

namespace {

// An information dictionary or string table is small; anything larger, or anything but a regular
// file, is none.
constexpr std::size_t maxPropertyListSize = 1 << 20;

// The bytes of the property list at `path`, taken from the open folder `folder` when relative.
// Nothing when it is absent or unfit; `missing` tells absence apart.
std::optional<std::string> readPropertyListFile(const std::string& path, bool& missing, int folder = AT_FDCWD) {
    // Not through a link: it would lend the bundle the identity of the file it points to.
    WholeFile read = readWholeFile(path, maxPropertyListSize, FinalLink::refuse, folder);
    missing = read.error == ENOENT || read.error == ENOTDIR;
    if (read.error != 0) {
        return std::nullopt;
    }
    return std::move(read.contents);
}

// The top-level dictionary of a property list; nothing when it holds no readable dictionary.
std::optional<coding::Object> dictionaryFrom(const std::optional<std::string>& bytes) {
    if (!bytes) {
        return std::nullopt;
    }
    try {
        coding::Value root = coding::fromPropertyList(*bytes);
        if (auto dictionary = root.get<coding::Object>()) {
            return *dictionary;
        }
    } catch (const std::exception&) {
        // An unreadable file is treated as none, also when reading it runs out of memory: a bundle
        // is made for every package a scan meets and must not fail on one.
    }
    return std::nullopt;
}

std::optional<coding::Object> readDictionary(const URL& url) {
    bool missing = false;
    return dictionaryFrom(readPropertyListFile(url.path(), missing));
}

// "Contents/Info.plist" in a bundle copied from a system that lays bundles out that way, else
// "Info.plist" at the top. Both are read through descriptors from the bundle's own folder down,
// and no step below the bundle may be a link: a "Contents" link would lend the bundle the identity
// of the bundle it points into. A "Contents" that is no folder (a file, a link) is no contents
// folder, and the top is read instead.
std::optional<coding::Object> readInfoDictionary(const URL& bundleURL) {
    // Only looked up in, never listed: a folder the user may search but not list is read through as
    // a path through it would be.
    constexpr int folderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    const Descriptor bundle(::open(bundleURL.path().c_str(), folderFlags));
    if (!bundle) {
        return std::nullopt;
    }
    bool missing = true;
    std::optional<std::string> bytes;
    const Descriptor contents(::openat(bundle.get(), "Contents", folderFlags | O_NOFOLLOW));
    if (contents) {
        bytes = readPropertyListFile("Info.plist", missing, contents.get());
    } else {
        // A Contents folder that may be there but cannot be looked up (in a bundle that may not be
        // searched, with no descriptor left) is not known to be absent: the top's dictionary is
        // none to stand in for its own.
        missing = errno == ENOENT || errno == ENOTDIR || errno == ELOOP;
    }
    if (missing) {
        bytes = readPropertyListFile("Info.plist", missing, bundle.get());
    }
    return dictionaryFrom(bytes);
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
    : url_(std::move(bundleURL)), info_(readInfoDictionary(url_)) {
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
    const char* configured = ::secure_getenv(mainBundleEnvironmentKey);
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
