#pragma once

#include "platform/fs/URL.hpp"

#include <memory>
#include <optional>
#include <variant>

namespace velmor {

class FSEventStream;

// Waits, in a task, for change batches at one path. Batches are not buffered: one that arrives while
// nobody waits is lost, and a waiting `next()` returns once for any number of batches before it
// resumes. The path is watched as given (see `FSEventStream::Scope::path`): when its parent folder
// does not exist nothing is watched, and `next()` then ends only by cancellation.
class FSEventIterator {
public:
    using Element = std::monostate;

    static constexpr double latency = 0.5;

    // `generateEventsForFiles` changes nothing here: changes are always seen per file.
    FSEventIterator(const URL& url, bool generateEventsForFiles);
    ~FSEventIterator();
    FSEventIterator(const FSEventIterator&) = delete;
    FSEventIterator& operator=(const FSEventIterator&) = delete;

    // A tick after the next change batch; nothing when the calling task is cancelled, at once when
    // it already was. A second waiter wakes the first with a tick.
    std::optional<Element> next();

    struct State;

private:
    std::shared_ptr<State> state_;
    std::unique_ptr<FSEventStream> handle_;
};

// File-system changes at one path as a sequence of ticks; each iterator has a watch of its own.
class FSEventSequence {
public:
    FSEventSequence(URL url, bool generateEventsForFiles)
        : url(std::move(url)), generateEventsForFiles(generateEventsForFiles) {}

    std::unique_ptr<FSEventIterator> makeAsyncIterator() const {
        return std::make_unique<FSEventIterator>(url, generateEventsForFiles);
    }

    URL url;
    bool generateEventsForFiles;
};

} // namespace velmor
