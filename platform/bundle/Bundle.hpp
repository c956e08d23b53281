#pragma once

#include "platform/coding/Value.hpp"
#include "platform/fs/URL.hpp"

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace velmor {

// A folder holding an "Info.plist" (XML or binary property list) and its resources. Its information
// dictionary and string tables are read once, when the bundle is made; the bundle is immutable
// afterwards. A bundle laid out with a "Contents" folder (copied from another system) has its
// information dictionary read from there.
class Bundle {
public:
    static constexpr const char* mainBundleEnvironmentKey = "VELMOR_MAIN_BUNDLE";

    explicit Bundle(URL bundleURL);

    // The bundle of the running program, located once per process by `mainBundleURL`.
    static const Bundle& main();
    // The folder named by VELMOR_MAIN_BUNDLE when it is set and not empty, else the folder that
    // holds the running executable.
    static URL mainBundleURL();

    const URL& bundleURL() const { return url_; }
    // How log lines name the bundle: "NSBundle <" + its path + ">".
    std::string description() const { return "NSBundle <" + url_.path() + ">"; }
    // Nothing when the bundle has no readable "Info.plist" whose top level is a dictionary.
    const coding::Object* infoDictionary() const { return info_ ? &*info_ : nullptr; }
    const coding::Value* objectForInfoDictionaryKey(const std::string& key) const;
    // The file `name`.`extension` in the bundle's "Resources" folder; nothing when there is none.
    std::optional<URL> urlForResource(const std::string& name, const std::string& extension) const;
    // The "CFBundleIdentifier" text; nothing when it is missing or not a string.
    std::optional<std::string> bundleIdentifier() const;

    // The text of `key` in the user's language: looked up in "Resources/<language>.lproj/
    // Localizable.strings" (a property-list dictionary of texts) for each preferred language, then
    // for the development region ("CFBundleDevelopmentRegion", else "en"); the key itself when no
    // table holds it.
    std::string localizedString(const std::string& key) const;
    // The text of a key that takes one argument, whose "%@" the argument replaces once, as it
    // stands: nothing in the argument is read as a placeholder.
    std::string localizedString(const std::string& key, const std::string& argument) const;

private:
    using StringTable = std::unordered_map<std::string, std::string>;

    URL url_;
    std::optional<coding::Object> info_;
    // The tables of the languages to try, in order.
    std::vector<StringTable> stringTables_;
};

} // namespace velmor
