#include "platform/fs/AnchoredFolder.hpp"

#include "platform/fs/URL.hpp"

#include <cerrno>
#include <fcntl.h>
#include <vector>

namespace velmor {

AnchoredFolder::AnchoredFolder(std::string path) : path_(std::move(path)) {
    while (path_.size() > 1 && path_.back() == '/') {
        path_.pop_back();
    }
    descriptor_ = Descriptor(::open(path_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!descriptor_.isOpen()) {
        openError_ = errno;
    }
}

bool AnchoredFolder::holds(std::string_view entry) const {
    return entry.size() > path_.size() && isPathWithin(entry, path_);
}

Descriptor AnchoredFolder::openParentOf(std::string_view entry, std::string& name) const {
    std::vector<std::string_view> components;
    std::string_view below = entry.substr(path_ == "/" ? 0 : path_.size());
    while (!below.empty()) {
        auto slash = below.find('/');
        std::string_view component = below.substr(0, slash);
        below = slash == std::string_view::npos ? std::string_view() : below.substr(slash + 1);
        if (component.empty()) {
            continue; // doubled or trailing slashes
        }
        if (component == "." || component == "..") {
            errno = EINVAL;
            return Descriptor();
        }
        components.push_back(component);
    }
    if (components.empty()) {
        errno = EINVAL;
        return Descriptor();
    }
    if (!descriptor_.isOpen()) {
        errno = openError_;
        return Descriptor();
    }
    Descriptor current(::fcntl(descriptor_.get(), F_DUPFD_CLOEXEC, 0));
    std::string componentName;
    for (std::size_t i = 0; i + 1 < components.size() && current.isOpen(); ++i) {
        componentName.assign(components[i]);
        Descriptor next(
            ::openat(current.get(), componentName.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        const int cause = errno == ELOOP ? ENOTDIR : errno;
        current = std::move(next);
        errno = cause;
    }
    if (current.isOpen()) {
        name.assign(components.back());
    }
    return current;
}

} // namespace velmor
