#pragma once

#include "foundation/core/log/Logger.hpp"
#include "platform/fs/URL.hpp"

#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace velmor {

// Tells whether the process holds full-disk access. On Linux that means reading what only root may
// read: the probed places are root's home and the shadow password files.
struct FullDiskAccessChecker {
    enum class FileStatus { nonexistant, unreadable, readable };
    using ProbeResult = std::unordered_map<URL, FileStatus>;

    std::shared_ptr<Logger> logger;

    static const std::vector<std::string_view>& probedPaths();

    static bool isFullDiskAccessAllowed();
    static bool isFullDiskAccessAllowed(const LoggerFactory& loggerFactory);
    static ProbeResult checkFDAIsGranted(const LoggerFactory& loggerFactory);

    // `nonexistant` when the status cannot be read, `unreadable` when this process may not read it
    // (judged by its effective ids, as an open would), else `readable`.
    static FileStatus fileStatus(const std::string& path);
};

// Granted unless some probed place exists and cannot be read.
bool fdaGranted(const FullDiskAccessChecker::ProbeResult& result);

} // namespace velmor
