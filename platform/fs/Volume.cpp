#include "platform/fs/Volume.hpp"

#include "platform/fs/Stat.hpp"

#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <vector>

namespace velmor {

namespace {

struct Mount {
    std::string mountPoint;
    std::string source;
};

// mountinfo escapes blanks, tabs, newlines and backslashes as three octal digits.
std::string unescapeOctal(const std::string& text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size()) {
            const std::string digits = text.substr(i + 1, 3);
            if (digits.find_first_not_of("01234567") == std::string::npos) {
                result += static_cast<char>(std::stoi(digits, nullptr, 8));
                i += 3;
                continue;
            }
        }
        result += text[i];
    }
    return result;
}

// udev escapes unsafe characters of labels as \xNN.
std::string unescapeHex(const std::string& text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i + 3 < text.size() && text.compare(i, 2, "\\x") == 0) {
            const std::string digits = text.substr(i + 2, 2);
            if (digits.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos) {
                result += static_cast<char>(std::stoi(digits, nullptr, 16));
                i += 3;
                continue;
            }
        }
        result += text[i];
    }
    return result;
}

std::vector<Mount> readMounts() {
    std::vector<Mount> mounts;
    std::ifstream file("/proc/self/mountinfo");
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        std::string id, parent, device, root, mountPoint, field;
        fields >> id >> parent >> device >> root >> mountPoint;
        // Optional fields end at a lone "-"; the file-system type and the source follow.
        while (fields >> field && field != "-") {
        }
        std::string type, source;
        fields >> type >> source;
        mounts.push_back({unescapeOctal(mountPoint), unescapeOctal(source)});
    }
    return mounts;
}

std::optional<Mount> mountAt(const std::string& path) {
    std::optional<Mount> found;
    for (auto& mount : readMounts()) {
        if (mount.mountPoint == path) {
            found = mount; // the last mount over a point is the one in effect
        }
    }
    return found;
}

std::string resolved(const std::string& path) {
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) ? std::string(buffer) : std::string();
}

std::optional<std::string> labelOfDevice(const std::string& device) {
    const std::string target = resolved(device);
    if (target.empty()) {
        return std::nullopt;
    }
    DIR* labels = ::opendir("/dev/disk/by-label");
    if (labels == nullptr) {
        return std::nullopt;
    }
    std::optional<std::string> label;
    while (struct ::dirent* entry = ::readdir(labels)) {
        std::string name = entry->d_name;
        if (name != "." && name != ".." && resolved("/dev/disk/by-label/" + name) == target) {
            label = unescapeHex(name);
            break;
        }
    }
    ::closedir(labels);
    return label;
}

} // namespace

bool Volume::isVolume(const URL& url) {
    return mountAt(url.path()).has_value();
}

bool Volume::isDirectory(const URL& url) {
    auto stat = Stat::lstatPath(url.path());
    return stat && S_ISDIR(stat->st_mode);
}

std::optional<std::string> Volume::name(const URL& mountPoint) {
    auto mount = mountAt(mountPoint.path());
    if (!mount) {
        return std::nullopt;
    }
    if (auto label = labelOfDevice(mount->source)) {
        return label;
    }
    if (!mount->source.empty() && mount->source.front() == '/') {
        return URL::fileURL(mount->source).lastPathComponent();
    }
    if (!mount->source.empty() && mount->source != "none") {
        return mount->source;
    }
    return mountPoint.lastPathComponent();
}

std::optional<Volume::Capacity> Volume::capacity(const URL& url) {
    struct ::statvfs record {};
    if (::statvfs(url.path().c_str(), &record) != 0) {
        return std::nullopt;
    }
    return Capacity{static_cast<std::uint64_t>(record.f_blocks) * record.f_frsize,
                    static_cast<std::uint64_t>(record.f_bavail) * record.f_frsize};
}

std::string localizedName(const URL& url) {
    // Rows ask this one by one: read the mount table only for an entry that sits on another device
    // than its parent (or is the root), which every mount point of another file system does.
    const std::string path = url.path();
    if (path != "/") {
        auto entry = Stat::lstatPath(path);
        auto parent = Stat::lstatPath(url.deletingLastPathComponent().path());
        if (!entry || !parent || entry->st_dev == parent->st_dev) {
            return url.lastPathComponent();
        }
    }
    if (auto name = Volume::name(url)) {
        return *name;
    }
    return url.lastPathComponent();
}

} // namespace velmor
