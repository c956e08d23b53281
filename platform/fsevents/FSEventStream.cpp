#include "platform/fsevents/FSEventStream.hpp"

#include "platform/dispatch/ThreadPool.hpp"
#include "platform/dispatch/TimerService.hpp"
#include "platform/fs/Descriptor.hpp"
#include "platform/fsevents/InotifyHub.hpp"
#include "platform/log/OSLog.hpp"

#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

namespace velmor {

namespace {

constexpr std::uint32_t entryEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB;
constexpr std::uint32_t selfEvents = IN_DELETE_SELF | IN_MOVE_SELF;

bool isFolder(const std::string& path) {
    struct ::stat record {};
    return ::lstat(path.c_str(), &record) == 0 && S_ISDIR(record.st_mode);
}

std::string childPath(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// The names of the folders directly inside `path`, symbolic links left out.
std::vector<std::string> subfolders(const std::string& path) {
    std::vector<std::string> names;
    Descriptor folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder) {
        return names;
    }
    int descriptor = folder.get();
    DIR* listing = ::fdopendir(folder.release());
    if (listing == nullptr) {
        ::close(descriptor);
        return names;
    }
    while (dirent* entry = ::readdir(listing)) {
        std::string_view name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        bool folderEntry = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct ::stat record {};
            folderEntry = ::fstatat(descriptor, entry->d_name, &record, AT_SYMLINK_NOFOLLOW) == 0 &&
                          S_ISDIR(record.st_mode);
        }
        if (folderEntry) {
            names.emplace_back(name);
        }
    }
    ::closedir(listing);
    return names;
}

} // namespace

struct FSEventStream::Core : InotifyHub::Listener, std::enable_shared_from_this<Core> {
    Core(std::string path, double latency, Scope scope, std::function<void()> callback,
         std::shared_ptr<std::once_flag> shortfallLog)
        : path(std::move(path)), latency(std::fabs(latency)), scope(scope), callback(std::move(callback)),
          timerService(TimerService::current()), shortfallLog(std::move(shortfallLog)) {
        if (this->path.size() > 1 && this->path.back() == '/') {
            this->path.pop_back();
        }
        auto slash = this->path.rfind('/');
        if (this->path != "/" && slash != std::string::npos) {
            parent = slash == 0 ? "/" : this->path.substr(0, slash);
            name = this->path.substr(slash + 1);
        }
    }

    // Everything below is guarded by `mutex`.

    // Adds a watch of `folder`, noting a folder that could not be watched; -1 then.
    int watch(const std::string& folder, std::uint32_t mask) {
        int watch = InotifyHub::shared().add(folder, mask, shared_from_this());
        int error = errno;
        // Gone or replaced by a file since it was found: nothing is missed there.
        if (watch < 0 && error != ENOENT && error != ENOTDIR) {
            noteShortfall(folder, error);
        }
        errno = error;
        return watch;
    }

    void noteShortfall(const std::string& folder, int error) {
        complete = false;
        std::call_once(*shortfallLog, [&] {
            std::string message = "Cannot watch " + folder + " for changes: " + std::strerror(error) + ".";
            if (error == ENOSPC) {
                message += " The user's inotify watch limit (/proc/sys/fs/inotify/max_user_watches) is "
                           "reached: changes at " +
                           path + " are not all reported.";
            } else {
                message += " Changes in it are not reported.";
            }
            log::OSLog("com.velmor.generic", "FSEventStream").write(log::LogType::error, message);
        });
    }

    bool watchTree(const std::string& root) {
        if (treeGivenUp) {
            return false;
        }
        bool any = false;
        std::vector<std::string> pending{root};
        while (!pending.empty()) {
            std::string folder = std::move(pending.back());
            pending.pop_back();
            // Watched before it is listed: a folder made in between is either listed or reported.
            int watch = this->watch(folder, entryEvents | selfEvents);
            if (watch < 0) {
                if (errno == ENOSPC) {
                    // A tree watched in part would hold watches every other watch of this user
                    // needs, for changes that are missed anyway.
                    treeGivenUp = true;
                    unwatchTree(path);
                    return false;
                }
                continue;
            }
            any = true;
            folders[watch] = folder;
            for (auto& child : subfolders(folder)) {
                pending.push_back(childPath(folder, child));
            }
        }
        return any;
    }

    void unwatchTree(const std::string& root) {
        for (auto it = folders.begin(); it != folders.end();) {
            const std::string& folder = it->second;
            if (folder == root || (folder.size() > root.size() && folder.starts_with(root) &&
                                   (root == "/" || folder[root.size()] == '/'))) {
                InotifyHub::shared().remove(it->first, this);
                it = folders.erase(it);
            } else {
                ++it;
            }
        }
    }

    void unwatchAll() {
        for (auto& [watch, folder] : folders) {
            InotifyHub::shared().remove(watch, this);
        }
        folders.clear();
        if (parentWatch >= 0) {
            InotifyHub::shared().remove(parentWatch, this);
            parentWatch = -1;
        }
    }

    bool start() {
        std::lock_guard lock(mutex);
        if (stopped) {
            return false;
        }
        if (scope == Scope::folderEntries) {
            int watch = this->watch(path, entryEvents | selfEvents);
            if (watch >= 0) {
                folders[watch] = path;
            }
            return watch >= 0;
        }
        bool any = false;
        if (!parent.empty()) {
            // Its own end or move too: the path is then no longer watched.
            parentWatch = watch(parent, entryEvents | selfEvents);
            any = parentWatch >= 0;
        }
        if ((any || parent.empty()) && isFolder(path)) {
            any = watchTree(path) || any;
        }
        return any;
    }

    void noteChange() {
        if (stopped || timer) {
            return;
        }
        std::weak_ptr<Core> weak = weak_from_this();
        timer = timerService->schedule(timerService->deadlineAfter(latency), [weak] {
            if (auto core = weak.lock()) {
                core->timerFired();
            }
        });
    }

    void handle(const InotifyHub::Event& event) override {
        std::lock_guard lock(mutex);
        if (stopped) {
            return;
        }
        if ((event.mask & selfEvents) && (event.watch == parentWatch || scope == Scope::folderEntries)) {
            folderLost = true;
            noteChange();
            return;
        }
        if (event.watch == parentWatch) {
            if (event.name != name || (event.mask & entryEvents) == 0) {
                return;
            }
            if (scope == Scope::path && (event.mask & IN_ISDIR)) {
                if (event.mask & (IN_CREATE | IN_MOVED_TO)) {
                    unwatchTree(path);
                    watchTree(path);
                } else if (event.mask & (IN_DELETE | IN_MOVED_FROM)) {
                    unwatchTree(path);
                }
            }
            noteChange();
            return;
        }
        auto found = folders.find(event.watch);
        if (found == folders.end()) {
            return;
        }
        if (scope == Scope::path && (event.mask & IN_ISDIR) && !event.name.empty()) {
            std::string child = childPath(found->second, event.name);
            if (event.mask & (IN_CREATE | IN_MOVED_TO)) {
                watchTree(child);
            } else if (event.mask & IN_MOVED_FROM) {
                unwatchTree(child);
            }
        }
        noteChange();
    }

    void overflow() override {
        std::lock_guard lock(mutex);
        if (stopped) {
            return;
        }
        // Folder creations may be among what was lost.
        if (scope == Scope::path && isFolder(path)) {
            watchTree(path);
        }
        noteChange();
    }

    void watchEnded(int watch) override {
        std::lock_guard lock(mutex);
        if (watch == parentWatch || (scope == Scope::folderEntries && folders.contains(watch))) {
            folderLost = true;
            noteChange();
        }
        if (watch == parentWatch) {
            parentWatch = -1;
        }
        folders.erase(watch);
    }

    void timerFired() {
        {
            std::lock_guard lock(mutex);
            timer.reset();
            if (stopped) {
                return;
            }
        }
        try {
            ThreadPool::shared().submit("com.velmor.fsevents.delivery",
                                        [self = shared_from_this()] { self->deliver(); });
        } catch (const std::system_error& error) {
            std::fprintf(stderr, "FSEventStream: a batch of changes at %s is lost: %s\n", path.c_str(),
                         error.what());
        }
    }

    void deliver() {
        std::unique_lock lock(mutex);
        if (stopped) {
            return;
        }
        if (delivering) {
            // The running delivery calls once more for this batch.
            again = true;
            return;
        }
        delivering = true;
        deliveringThread = std::this_thread::get_id();
        do {
            again = false;
            lock.unlock();
            callback();
            lock.lock();
        } while (again && !stopped);
        delivering = false;
        deliveringThread = {};
        deliveryEnded.notify_all();
    }

    void stop() {
        std::unique_lock lock(mutex);
        stopped = true;
        if (timer) {
            timerService->unschedule(*timer);
            timer.reset();
        }
        unwatchAll();
        if (deliveringThread != std::this_thread::get_id()) {
            deliveryEnded.wait(lock, [&] { return !delivering; });
        }
    }

    std::string path;
    std::string parent; // empty for "/"
    std::string name;
    const double latency;
    const Scope scope;
    const std::function<void()> callback;
    const std::shared_ptr<TimerService> timerService;
    const std::shared_ptr<std::once_flag> shortfallLog;

    std::mutex mutex;
    std::condition_variable deliveryEnded;
    bool stopped = false;
    bool delivering = false;
    bool again = false;
    std::thread::id deliveringThread;
    std::optional<TimerService::Id> timer;
    int parentWatch = -1;
    std::unordered_map<int, std::string> folders;
    bool folderLost = false;
    bool complete = true;
    bool treeGivenUp = false;
};

FSEventStream::FSEventStream(std::string path, double latency, Scope scope, std::function<void()> callback,
                             std::shared_ptr<std::once_flag> shortfallLog)
    : core_(std::make_shared<Core>(std::move(path), latency, scope, std::move(callback), std::move(shortfallLog))) {}

FSEventStream::~FSEventStream() {
    stop();
}

bool FSEventStream::start() {
    return core_->start();
}

void FSEventStream::stop() {
    core_->stop();
}

bool FSEventStream::lostItsFolder() const {
    std::lock_guard lock(core_->mutex);
    return core_->folderLost;
}

bool FSEventStream::isComplete() const {
    std::lock_guard lock(core_->mutex);
    return core_->complete;
}

} // namespace velmor
