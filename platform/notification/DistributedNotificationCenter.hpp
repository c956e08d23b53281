#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velmor {
namespace log {
class OSLog;
}

// Notifications between processes: a broadcast signal on the system bus carrying a name and an
// object. Without a system bus, posting and listening do nothing beyond a debug line.
class DistributedNotificationCenter {
public:
    static constexpr const char* objectPath = "/com/velmor/DistributedNotification";
    static constexpr const char* interface = "com.velmor.DistributedNotification";
    static constexpr const char* member = "Posted";

    static DistributedNotificationCenter& defaultCenter();

    // Sends to every process listening, this one included.
    void post(const std::string& name, const std::string& object);
    // Calls `handler` on the main actor for each notification with this name and object, for the
    // life of the process. The first observer starts the one listener thread of the process.
    void addObserver(std::string name, std::string object, std::function<void()> handler);

    DistributedNotificationCenter();
    ~DistributedNotificationCenter();
    DistributedNotificationCenter(const DistributedNotificationCenter&) = delete;
    DistributedNotificationCenter& operator=(const DistributedNotificationCenter&) = delete;

private:
    struct Observer {
        std::string name;
        std::string object;
        std::function<void()> handler;
    };

    void listen(void* bus);
    void deliver(const std::string& name, const std::string& object);
    void logDebug(const std::string& message) const;

    // Its own handle, so that the listener can still log while the process ends.
    std::unique_ptr<log::OSLog> log_;

    std::mutex mutex_;
    std::vector<Observer> observers_;
    bool listening_ = false;
    std::atomic<bool> stopping_{false};
    std::thread listener_;
};

} // namespace velmor
