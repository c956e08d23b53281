#pragma once

#include "platform/dispatch/SerialQueue.hpp"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <variant>
#include <vector>

namespace velmor {

// A pipe whose two ends are close-on-exec, so programs started at the same time never hold each
// other's pipes open. Each end is closed when the pipe goes or when it is taken.
class Pipe {
public:
    // Throws `ErrorException` with the POSIX cause when no pipe can be made.
    static std::shared_ptr<Pipe> make();
    ~Pipe();
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    int readDescriptor() const;
    int writeDescriptor() const;
    // Hands the end over to the caller (-1 when already gone); the pipe no longer closes it.
    int takeReadDescriptor();
    int takeWriteDescriptor();
    void closeReadDescriptor();
    void closeWriteDescriptor();

private:
    Pipe(int read, int write) : read_(read), write_(write) {}
    mutable std::mutex mutex_;
    int read_;
    int write_;
};

// A program run as a child, in its own process group (unless it reads the caller's terminal, see
// `launch`). It is reaped as soon as it ends, whether or not anyone keeps this object; signals go to
// its group only until then, or while an owner holds the group (see `holdGroup`), so a reused pid
// is never hit.
class Process : public std::enable_shared_from_this<Process> {
public:
    enum class TerminationReason { exit = 1, uncaughtSignal = 2 };
    struct Inherit {};
    struct NullDevice {};
    using Stream = std::variant<Inherit, NullDevice, std::shared_ptr<Pipe>>;

    static std::shared_ptr<Process> make();

    // Set these before `launch`.
    std::string executablePath;
    std::vector<std::string> arguments;
    Stream standardInput = Inherit{};
    Stream standardOutput = Inherit{};
    Stream standardError = Inherit{};
    // Runs once the program has ended and been reaped: on `terminationQueue` when one is set,
    // else on a pool thread.
    std::function<void(Process&)> terminationHandler;
    // The queue the program is reaped on and its termination handler runs on, for an owner whose
    // other work on the program's end runs there too: no hand-off between threads. Work on this
    // queue must never wait for the program's end (`waitUntilExit`), since that needs the queue.
    std::optional<SerialQueue> terminationQueue;

    // Starts the program. Throws `ErrorException` with a file error (no such file, no permission,
    // ...) over the POSIX cause when it cannot be started; a path or argument holding a NUL byte
    // is EINVAL. The child's ends of given pipes are closed here. A program whose standard input is
    // inherited and is a terminal stays in the caller's process group, so that it may read the
    // terminal; signals then go to it alone.
    void launch();

    pid_t processIdentifier() const;
    bool isRunning() const;
    // The exit status, or the signal number when `terminationReason` is uncaughtSignal.
    int terminationStatus() const;
    TerminationReason terminationReason() const;
    // The POSIX error that kept the program's end from being learned once it ended, else 0: ECHILD
    // when this process ignores SIGCHLD or another part of it reaped the program. The status and
    // reason then tell nothing.
    int terminationError() const;
    void waitUntilExit();

    // SIGTERM, SIGINT, SIGKILL to the program's group while it is unreaped or the group is held;
    // nothing afterwards.
    void terminate();
    void interrupt();
    void kill();
    // For an owner that reads one of the program's output pipes: from before the pipe's end is read
    // until after, the members of the group that still hold the pipe keep the group's id in use, so
    // signals still reach the group once the program itself is reaped (its background children).
    void holdGroup();
    void releaseGroup();

    // Runs a tool to its end and collects what it wrote to standard output. Standard input reads
    // nothing; standard error is the caller's.
    struct Result {
        // The exit status, or 128 plus the signal that ended the tool.
        int terminationStatus = 0;
        std::string standardOutput;
    };
    // Throws as `launch` does, and `ErrorException` with the POSIX cause when the tool's end
    // cannot be learned (see `terminationError`).
    static Result run(const std::string& executablePath, const std::vector<std::string>& arguments);

private:
    Process() = default;
    void signalGroup(int signal);
    // Waits for the ended program and records how it ended.
    void recordEnd();
    void reap();

    mutable std::mutex mutex_;
    std::condition_variable ended_;
    pid_t pid_ = 0;
    bool ownGroup_ = true;
    int groupHolds_ = 0;
    int pidfd_ = -1;
    bool launched_ = false;
    bool reaped_ = false;
    int status_ = 0;
    int terminationError_ = 0;
    TerminationReason reason_ = TerminationReason::exit;
};

namespace detail {

// For tests: when set, called at each named step that may fail once a program has started
// ("watch" in `Process::launch`, and the steps of the runners built on it); what it throws is
// handled as that step's failure.
extern std::atomic<void (*)(const char* step)> failAfterSpawn;

inline void afterSpawnStep(const char* step) {
    if (auto fail = failAfterSpawn.load()) {
        fail(step);
    }
}

} // namespace detail

} // namespace velmor
