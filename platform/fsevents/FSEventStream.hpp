#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace velmor {

// Reports changes at one path in batches, the way a path-based event stream does. The first change
// starts a timer of `latency` seconds on the current timer service; everything until it fires is one
// batch, and the callback runs once for it on the shared pool. Batches of one stream never overlap.
//
// What is watched:
// - `Scope::path`: the parent folder of the path, for entries of the path's name (created, deleted,
//   moved in or out, written, closed after writing, attributes changed), so the watch survives the
//   path's deletion and its atomic replacement; and, while the path is a folder, that folder and
//   every folder below it, with watches added as folders appear.
// - `Scope::folderEntries`: the folder's own entries and its own deletion or move, nothing deeper.
//
// A folder that cannot be watched is left out, and the first one is logged with its cause. Past the
// user's inotify watch limit the stream gives back the watches below the path, so that one large
// tree does not leave the other watches of the process without any to add.
class FSEventStream {
public:
    enum class Scope { path, folderEntries };

    // Streams that share `shortfallLog` log only the first folder any of them could not watch.
    FSEventStream(std::string path, double latency, Scope scope, std::function<void()> callback,
                  std::shared_ptr<std::once_flag> shortfallLog = std::make_shared<std::once_flag>());
    ~FSEventStream();
    FSEventStream(const FSEventStream&) = delete;
    FSEventStream& operator=(const FSEventStream&) = delete;

    // Sets the watches up and returns once they are in place. False when nothing could be watched
    // (for `Scope::path`, when the path's parent folder is missing); the stream then never calls.
    bool start();
    // No batch is delivered once this returns. A batch being delivered on another thread is waited
    // for; called from inside the callback, it returns at once and the callback runs to its end.
    void stop();

    // Whether the folder the watch rests on (the parent for `Scope::path`, the folder itself for
    // `Scope::folderEntries`) went away or moved since the start; that was reported as a change. The
    // stream sees nothing more at its path then: a new one has to be started.
    bool lostItsFolder() const;
    // False once a folder could not be watched; what is still watched keeps being reported.
    bool isComplete() const;

    struct Core;

private:
    std::shared_ptr<Core> core_;
};

} // namespace velmor
