#include "platform/fsevents/InotifyHub.hpp"

#include "platform/dispatch/IOReactor.hpp"
#include "platform/dispatch/SerialQueue.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/inotify.h>
#include <system_error>
#include <unistd.h>

namespace velmor {

namespace {

const SerialQueue& hubQueue() {
    static const SerialQueue* queue = new SerialQueue("com.velmor.fsevents");
    return *queue;
}

} // namespace

InotifyHub& InotifyHub::shared() {
    // Never destroyed: the reactor may still call it while the process exits.
    static InotifyHub* hub = new InotifyHub();
    return *hub;
}

InotifyHub::InotifyHub() {
    descriptor_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (descriptor_ < 0) {
        std::fprintf(stderr, "InotifyHub: cannot create an inotify descriptor: %s\n", std::strerror(errno));
        return;
    }
    arm();
}

void InotifyHub::arm() {
    try {
        IOReactor::shared().whenReadable(descriptor_, hubQueue(), [this] {
            drain();
            arm();
        });
    } catch (const std::system_error& error) {
        std::fprintf(stderr, "InotifyHub: cannot wait for file-system events: %s\n", error.what());
    }
}

int InotifyHub::add(const std::string& path, std::uint32_t mask, const std::shared_ptr<Listener>& listener) {
    if (descriptor_ < 0) {
        errno = EMFILE;
        return -1;
    }
    std::lock_guard lock(mutex_);
    int watch = ::inotify_add_watch(descriptor_, path.c_str(), mask | IN_MASK_ADD | IN_DONT_FOLLOW | IN_ONLYDIR);
    if (watch < 0) {
        return -1;
    }
    watches_[watch][listener.get()] = listener;
    return watch;
}

void InotifyHub::remove(int watch, const Listener* listener) {
    std::lock_guard lock(mutex_);
    auto found = watches_.find(watch);
    if (found == watches_.end()) {
        return;
    }
    if (found->second.erase(listener) == 0) {
        return;
    }
    if (found->second.empty()) {
        watches_.erase(found);
        ::inotify_rm_watch(descriptor_, watch);
    }
}

std::vector<std::shared_ptr<InotifyHub::Listener>> InotifyHub::listenersOf(int watch) {
    std::vector<std::shared_ptr<Listener>> result;
    std::lock_guard lock(mutex_);
    if (watch == -1) {
        for (auto& [ignored, uses] : watches_) {
            for (auto& [key, weak] : uses) {
                if (auto listener = weak.lock()) {
                    result.push_back(std::move(listener));
                }
            }
        }
        // One listener may hold many watches; it hears of the overflow once.
        std::sort(result.begin(), result.end());
        result.erase(std::unique(result.begin(), result.end()), result.end());
        return result;
    }
    auto found = watches_.find(watch);
    if (found != watches_.end()) {
        for (auto& [key, weak] : found->second) {
            if (auto listener = weak.lock()) {
                result.push_back(std::move(listener));
            }
        }
    }
    return result;
}

void InotifyHub::dispatch(const Event& event) {
    if (event.mask & IN_Q_OVERFLOW) {
        for (auto& listener : listenersOf(-1)) {
            listener->overflow();
        }
        return;
    }
    auto listeners = listenersOf(event.watch);
    if (event.mask & IN_IGNORED) {
        {
            std::lock_guard lock(mutex_);
            watches_.erase(event.watch);
        }
        for (auto& listener : listeners) {
            listener->watchEnded(event.watch);
        }
        return;
    }
    for (auto& listener : listeners) {
        listener->handle(event);
    }
}

void InotifyHub::drain() {
    alignas(inotify_event) char buffer[65536];
    while (true) {
        ssize_t length = ::read(descriptor_, buffer, sizeof buffer);
        if (length < 0) {
            if (errno == EINTR) {
                continue;
            }
            return; // EAGAIN: read to the end for now
        }
        if (length == 0) {
            return;
        }
        for (char* at = buffer; at < buffer + length;) {
            auto* raw = reinterpret_cast<inotify_event*>(at);
            Event event{raw->wd, raw->mask, raw->cookie, raw->len > 0 ? std::string(raw->name) : std::string()};
            dispatch(event);
            at += sizeof(inotify_event) + raw->len;
        }
    }
}

} // namespace velmor
