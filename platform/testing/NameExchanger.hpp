#pragma once

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <thread>
#include <utility>

namespace velmor::testing {

// Exchanges two names in one folder tree over and over, on a thread of its own, while the object
// lives: a folder and a link to somewhere else, say, to race a walk. `failure()` tells why it could
// not start (the file system may not exchange names).
class NameExchanger {
public:
    NameExchanger(std::string first, std::string second) : first_(std::move(first)), second_(std::move(second)) {
        if (!exchange()) {
            failure_ = "cannot exchange " + first_ + " and " + second_ + ": " + std::strerror(errno);
            return;
        }
        thread_ = std::thread([this] {
            while (!stop_.load()) {
                if (exchange()) {
                    swaps_.fetch_add(1);
                }
            }
        });
    }
    ~NameExchanger() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    NameExchanger(const NameExchanger&) = delete;
    NameExchanger& operator=(const NameExchanger&) = delete;

    const std::string& failure() const { return failure_; }
    long swaps() const { return swaps_.load(); }

private:
    bool exchange() const {
        return ::renameat2(AT_FDCWD, first_.c_str(), AT_FDCWD, second_.c_str(), RENAME_EXCHANGE) == 0;
    }

    std::string first_;
    std::string second_;
    std::string failure_;
    std::atomic<bool> stop_{false};
    std::atomic<long> swaps_{0};
    std::thread thread_;
};

} // namespace velmor::testing
