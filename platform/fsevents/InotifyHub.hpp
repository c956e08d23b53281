#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace velmor {

// The process's one inotify descriptor, read on the library's I/O reactor. inotify hands every
// watch of one folder the same descriptor and lets a second add replace the mask, so the hub
// counts the listeners of each watch, only ever widens its mask, and drops the kernel watch when
// its last listener goes: removing one listener never costs another its events.
class InotifyHub {
public:
    struct Event {
        int watch;
        std::uint32_t mask;
        std::uint32_t cookie;
        std::string name;
    };

    // Called on the hub's serial queue, one event at a time, in the order the kernel gave them.
    class Listener {
    public:
        virtual ~Listener() = default;
        virtual void handle(const Event& event) = 0;
        // The kernel queue overflowed: events were lost, so every listener hears of it.
        virtual void overflow() = 0;
        // The kernel ended the watch (its folder went away or was unmounted).
        virtual void watchEnded(int watch) = 0;
    };

    static InotifyHub& shared();

    // Watches the folder at `path` (never following a final symbolic link) for `mask` on behalf of
    // `listener`. Gives the watch descriptor, or -1 with errno set (ENOSPC once the user's watch
    // limit is reached). The listener is held weakly; adding a watch it already holds changes
    // nothing but the mask.
    int add(const std::string& path, std::uint32_t mask, const std::shared_ptr<Listener>& listener);
    // Takes `listener` off `watch`; the kernel watch goes with its last listener.
    void remove(int watch, const Listener* listener);

    InotifyHub(const InotifyHub&) = delete;
    InotifyHub& operator=(const InotifyHub&) = delete;

private:
    InotifyHub();
    void arm();
    void drain();
    void dispatch(const Event& event);
    std::vector<std::shared_ptr<Listener>> listenersOf(int watch);

    int descriptor_ = -1;
    std::mutex mutex_;
    std::unordered_map<int, std::unordered_map<const Listener*, std::weak_ptr<Listener>>> watches_;
};

} // namespace velmor
