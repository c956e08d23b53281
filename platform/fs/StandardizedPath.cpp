#include "platform/fs/StandardizedPath.hpp"

#include "platform/fs/UserDirectories.hpp"

#include <sys/stat.h>
#include <vector>

namespace velmor {

namespace {

std::string expandingTilde(std::string_view path) {
    if (path.empty() || path.front() != '~' || (path.size() > 1 && path[1] != '/')) {
        return std::string(path);
    }
    const auto home = homeDirectory();
    if (!home) {
        return std::string(path);
    }
    return home->path() + std::string(path.substr(1));
}

bool exists(const std::string& path) {
    struct ::stat record {};
    return ::lstat(path.c_str(), &record) == 0;
}

} // namespace

std::string standardizingPath(std::string_view input) {
    const std::string expanded = expandingTilde(input);
    if (expanded.empty()) {
        return expanded;
    }
    const bool absolute = expanded.front() == '/';
    std::vector<std::string_view> components;
    std::string_view rest = expanded;
    while (!rest.empty()) {
        const auto slash = rest.find('/');
        const std::string_view component = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (component.empty() || component == ".") {
            continue;
        }
        if (component == ".." && absolute) {
            if (!components.empty()) {
                components.pop_back();
            }
            continue;
        }
        components.push_back(component);
    }
    std::string result = absolute ? "/" : "";
    for (std::size_t index = 0; index < components.size(); ++index) {
        if (index > 0) {
            result += '/';
        }
        result += components[index];
    }
    if (result.empty()) {
        return absolute ? "/" : ".";
    }
    constexpr std::string_view privatePrefix = "/private/";
    if (absolute && result.starts_with(privatePrefix)) {
        std::string shorter = result.substr(privatePrefix.size() - 1);
        if (exists(shorter)) {
            return shorter;
        }
    }
    return result;
}

} // namespace velmor
