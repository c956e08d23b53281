#include "platform/fs/MountTable.hpp"

#include <fstream>
#include <set>
#include <sstream>

namespace velmor {

namespace {

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

} // namespace

std::vector<MountEntry> readMountTable() {
    std::vector<MountEntry> mounts;
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
        mounts.push_back({unescapeOctal(mountPoint), unescapeOctal(source), unescapeOctal(type)});
    }
    return mounts;
}

std::vector<URL> mountedVolumeURLs() {
    std::vector<URL> urls;
    std::set<std::string> seen;
    for (const auto& mount : readMountTable()) {
        if (seen.insert(mount.mountPoint).second) {
            urls.push_back(URL::fileURL(mount.mountPoint == "/" ? "/" : mount.mountPoint + "/"));
        }
    }
    return urls;
}

const MountEntry* mountAt(const std::vector<MountEntry>& table, const std::string& path) {
    const MountEntry* found = nullptr;
    for (const auto& mount : table) {
        if (mount.mountPoint == path) {
            found = &mount; // the last mount over a point is the one in effect
        }
    }
    return found;
}

} // namespace velmor
