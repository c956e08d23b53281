#include "platform/bundle/PreferredLanguages.hpp"

#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace velmor {

namespace {

void addLocale(std::string_view locale, std::vector<std::string>& languages) {
    // language[_territory][.codeset][@modifier]
    locale = locale.substr(0, locale.find_first_of(".@"));
    // A language names a folder of the bundle: one with a slash would lead out of it.
    if (locale.empty() || locale == "C" || locale == "POSIX" || locale.find('/') != std::string_view::npos) {
        return;
    }
    auto add = [&](std::string_view language) {
        if (std::find(languages.begin(), languages.end(), language) == languages.end()) {
            languages.emplace_back(language);
        }
    };
    add(locale);
    if (auto region = locale.find('_'); region != std::string_view::npos) {
        add(locale.substr(0, region));
    }
}

const char* environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

} // namespace

std::vector<std::string> preferredLanguages() {
    std::vector<std::string> languages;
    if (const char* list = environment("LANGUAGE")) {
        std::string_view rest(list);
        while (!rest.empty()) {
            const auto colon = rest.find(':');
            addLocale(rest.substr(0, colon), languages);
            rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        }
    }
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (const char* locale = environment(name)) {
            addLocale(locale, languages);
            break;
        }
    }
    return languages;
}

} // namespace velmor
