#include "foundation/services/access/FullDiskAccessChecker.hpp"

#include "foundation/core/log/OSLogLogger.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmor {

namespace {

FullDiskAccessChecker::ProbeResult probe() {
    FullDiskAccessChecker::ProbeResult result;
    for (auto path : FullDiskAccessChecker::probedPaths()) {
        result.emplace(URL::fileURL(path), FullDiskAccessChecker::fileStatus(std::string(path)));
    }
    return result;
}

} // namespace

const std::vector<std::string_view>& FullDiskAccessChecker::probedPaths() {
    static const std::vector<std::string_view> paths{"/root", "/etc/shadow", "/etc/gshadow"};
    return paths;
}

FullDiskAccessChecker::FileStatus FullDiskAccessChecker::fileStatus(const std::string& path) {
    struct ::stat record {};
    if (::stat(path.c_str(), &record) != 0) {
        return FileStatus::nonexistant;
    }
    if (::faccessat(AT_FDCWD, path.c_str(), R_OK, AT_EACCESS) != 0) {
        return FileStatus::unreadable;
    }
    return FileStatus::readable;
}

bool FullDiskAccessChecker::isFullDiskAccessAllowed() {
    FullDiskAccessChecker checker{std::make_shared<OSLogLogger>("FDAChecker")};
    return fdaGranted(probe());
}

bool FullDiskAccessChecker::isFullDiskAccessAllowed(const LoggerFactory& loggerFactory) {
    return fdaGranted(checkFDAIsGranted(loggerFactory));
}

FullDiskAccessChecker::ProbeResult
FullDiskAccessChecker::checkFDAIsGranted(const LoggerFactory& loggerFactory) {
    FullDiskAccessChecker checker{loggerFactory("FDAChecker")};
    return probe();
}

bool fdaGranted(const FullDiskAccessChecker::ProbeResult& result) {
    for (const auto& [url, status] : result) {
        if (status == FullDiskAccessChecker::FileStatus::unreadable) {
            return false;
        }
    }
    return true;
}

} // namespace velmor
