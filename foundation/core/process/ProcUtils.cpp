#include "foundation/core/process/ProcUtils.hpp"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string_view>
#include <unistd.h>

namespace velmor {

namespace {

constexpr std::string_view deletedSuffix = " (deleted)";

[[noreturn]] void throwNotRunning() {
    throw TypedError<ProcUtils::Error>(ProcUtils::Error::processNotRunning);
}

bool readPath(std::int32_t pid, std::string& path) {
    if (pid <= 0) {
        return false;
    }
    std::string link = "/proc/" + std::to_string(pid) + "/exe";
    char buffer[PATH_MAX];
    ssize_t length = ::readlink(link.c_str(), buffer, sizeof buffer);
    // A result that fills the buffer may have been cut short.
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof buffer) {
        return false;
    }
    path.assign(buffer, static_cast<std::size_t>(length));
    // The kernel marks an executable replaced on disk (an upgrade); the program still runs from there.
    if (path.size() > deletedSuffix.size() && path.ends_with(deletedSuffix)) {
        path.resize(path.size() - deletedSuffix.size());
    }
    return true;
}

template <typename Keep> std::vector<std::int32_t> searchPids(Keep keep) {
    std::vector<std::int32_t> found;
    std::string path;
    for (std::int32_t pid : ProcUtils::runningPids()) {
        if (readPath(pid, path) && keep(path)) {
            found.push_back(pid);
        }
    }
    return found;
}

} // namespace

std::vector<std::int32_t> ProcUtils::runningPids() {
    std::vector<std::int32_t> pids;
    DIR* directory = ::opendir("/proc");
    if (directory == nullptr) {
        return pids;
    }
    while (dirent* entry = ::readdir(directory)) {
        std::string_view name = entry->d_name;
        if (name.empty() || name.size() > 10 ||
            name.find_first_not_of("0123456789") != std::string_view::npos) {
            continue;
        }
        long value = std::strtol(entry->d_name, nullptr, 10);
        if (value > 0 && value <= INT32_MAX) {
            pids.push_back(static_cast<std::int32_t>(value));
        }
    }
    ::closedir(directory);
    return pids;
}

std::string ProcUtils::path(std::int32_t pid) {
    std::string path;
    if (!readPath(pid, path)) {
        throwNotRunning();
    }
    return path;
}

std::vector<std::int32_t> ProcUtils::runningPidsMatchingPath(const std::string& path) {
    return searchPids([&](const std::string& candidate) { return candidate == path; });
}

std::vector<std::int32_t> ProcUtils::runningPidsContainingPath(const std::string& path) {
    return searchPids(
        [&](const std::string& candidate) { return candidate.find(path) != std::string::npos; });
}

std::uint32_t ProcUtils::userId(std::int32_t pid) {
    if (pid <= 0) {
        throwNotRunning();
    }
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("Uid:")) {
            // Real, effective, saved, file-system.
            std::istringstream fields(line.substr(4));
            unsigned long real = 0;
            unsigned long effective = 0;
            if (fields >> real >> effective && effective <= UINT32_MAX) {
                return static_cast<std::uint32_t>(effective);
            }
            break;
        }
    }
    throwNotRunning();
}

} // namespace velmor
