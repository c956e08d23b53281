#include "platform/fs/Volume.hpp"

#include "platform/fs/MountTable.hpp"
#include "platform/fs/Stat.hpp"

#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <vector>

namespace velmor {

namespace {

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

std::optional<MountEntry> mountInEffectAt(const std::string& path) {
    const auto table = readMountTable();
    if (const MountEntry* mount = velmor::mountAt(table, path)) {
        return *mount;
    }
    return std::nullopt;
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
    return mountInEffectAt(url.path()).has_value();
}

bool Volume::isDirectory(const URL& url) {
    auto stat = Stat::lstatPath(url.path());
    return stat && S_ISDIR(stat->st_mode);
}

std::optional<std::string> Volume::name(const URL& mountPoint) {
    auto mount = mountInEffectAt(mountPoint.path());
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
