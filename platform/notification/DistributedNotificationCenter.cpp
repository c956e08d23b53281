#include "platform/notification/DistributedNotificationCenter.hpp"

#include "platform/concurrency/MainActor.hpp"
#include "platform/log/OSLog.hpp"

#include <cstring>
#include <systemd/sd-bus.h>

namespace velmor {

DistributedNotificationCenter& DistributedNotificationCenter::defaultCenter() {
    // Destroyed at exit, which stops the listener before the observers it calls go.
    static DistributedNotificationCenter center;
    return center;
}

DistributedNotificationCenter::DistributedNotificationCenter()
    : log_(std::make_unique<log::OSLog>("com.velmor.generic", "DistributedNotification")) {}

void DistributedNotificationCenter::logDebug(const std::string& message) const {
    if (log_->isEnabled(log::LogType::debug)) {
        log_->write(log::LogType::debug, message);
    }
}

DistributedNotificationCenter::~DistributedNotificationCenter() {
    stopping_ = true;
    if (listener_.joinable()) {
        listener_.join();
    }
}

void DistributedNotificationCenter::post(const std::string& name, const std::string& object) {
    sd_bus* bus = nullptr;
    int result = sd_bus_open_system(&bus);
    if (result >= 0) {
        result = sd_bus_emit_signal(bus, objectPath, interface, member, "ss", name.c_str(), object.c_str());
    }
    if (result >= 0) {
        result = sd_bus_flush(bus);
    }
    sd_bus_flush_close_unref(bus);
    if (result < 0) {
        logDebug("Cannot post " + name + " on the system bus: " + std::strerror(-result));
    }
}

void DistributedNotificationCenter::addObserver(std::string name, std::string object,
                                                std::function<void()> handler) {
    std::lock_guard lock(mutex_);
    observers_.push_back({std::move(name), std::move(object), std::move(handler)});
    if (listening_) {
        return;
    }
    listening_ = true;
    sd_bus* bus = nullptr;
    int result = sd_bus_open_system(&bus);
    if (result >= 0) {
        const std::string match = std::string("type='signal',path='") + objectPath + "',interface='" +
                                  interface + "',member='" + member + "'";
        result = sd_bus_add_match(
            bus, nullptr, match.c_str(),
            [](sd_bus_message* message, void* center, sd_bus_error*) {
                const char* name = nullptr;
                const char* object = nullptr;
                if (sd_bus_message_read(message, "ss", &name, &object) >= 0) {
                    static_cast<DistributedNotificationCenter*>(center)->deliver(name, object);
                }
                return 0;
            },
            this);
    }
    if (result < 0) {
        sd_bus_unref(bus);
        logDebug(std::string("No system bus to listen for notifications on: ") + std::strerror(-result));
        return;
    }
    listener_ = std::thread([this, bus] { listen(bus); });
}

void DistributedNotificationCenter::listen(void* opaqueBus) {
    auto* bus = static_cast<sd_bus*>(opaqueBus);
    while (!stopping_) {
        int result = sd_bus_process(bus, nullptr);
        if (result < 0) {
            logDebug(std::string("Stopped listening for notifications: ") + std::strerror(-result));
            break;
        }
        if (result == 0) {
            // A short wait, so that the end of the process is noticed soon.
            sd_bus_wait(bus, 100'000);
        }
    }
    sd_bus_flush_close_unref(bus);
}

void DistributedNotificationCenter::deliver(const std::string& name, const std::string& object) {
    std::vector<std::function<void()>> handlers;
    {
        std::lock_guard lock(mutex_);
        for (const auto& observer : observers_) {
            if (observer.name == name && observer.object == object) {
                handlers.push_back(observer.handler);
            }
        }
    }
    if (handlers.empty()) {
        return;
    }
    for (auto& handler : handlers) {
        if (!MainActor::tryPost(std::move(handler))) {
            logDebug("No main executor to deliver " + name + " to");
            return;
        }
    }
}

} // namespace velmor
