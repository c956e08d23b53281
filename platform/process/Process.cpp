#include "platform/process/Process.hpp"

#include "platform/dispatch/IOReactor.hpp"
#include "platform/error/Error.hpp"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace velmor {

std::atomic<void (*)(const char* step)> detail::failAfterSpawn{nullptr};

namespace {

// The file error a failed launch reports, with the POSIX cause underneath.
[[noreturn]] void throwLaunchError(int posixCode, const std::string& path) {
    std::int64_t code = 256; // reading failed for an unknown reason
    if (posixCode == ENOENT || posixCode == ENOTDIR) {
        code = 4; // no such file
    } else if (posixCode == EACCES || posixCode == EPERM) {
        code = 257; // no permission to read
    }
    // The text names the program and the cause: the code alone says neither. A path cut at a NUL
    // byte is still the program meant.
    auto cause = Error::posix(posixCode);
    std::string description = "Cannot start " + std::string(path.c_str()) + ": " + cause.description();
    throw ErrorException(Error(Error::cocoaDomain, code,
                               {{Error::underlyingErrorKey, std::make_shared<const Error>(std::move(cause))},
                                {Error::filePathKey, path},
                                {Error::localizedDescriptionKey, std::move(description)}}));
}

struct FileActions {
    posix_spawn_file_actions_t actions;
    FileActions() { ::posix_spawn_file_actions_init(&actions); }
    ~FileActions() { ::posix_spawn_file_actions_destroy(&actions); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
};

struct SpawnAttributes {
    posix_spawnattr_t attributes;
    SpawnAttributes() { ::posix_spawnattr_init(&attributes); }
    ~SpawnAttributes() { ::posix_spawnattr_destroy(&attributes); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
};

// The signals a program finds at their defaults: those this process catches, whose handlers the
// program does not have, and SIGPIPE even when ignored. Other ignored signals stay ignored.
sigset_t signalsToDefault() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGPIPE);
    for (int signal = 1; signal < NSIG; ++signal) {
        struct sigaction current {};
        // Fails for the C library's own signals, which it never lets a program inherit caught.
        if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_DFL &&
            current.sa_handler != SIG_IGN) {
            sigaddset(&signals, signal);
        }
    }
    return signals;
}

void closeDescriptor(int& descriptor) {
    if (descriptor >= 0) {
        ::close(descriptor);
        descriptor = -1;
    }
}

bool holdsNul(const std::string& text) {
    return text.find('\0') != std::string::npos;
}

} // namespace

// Pipe

std::shared_ptr<Pipe> Pipe::make() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        throw ErrorException(Error::posix(errno));
    }
    return std::shared_ptr<Pipe>(new Pipe(ends[0], ends[1]));
}

Pipe::~Pipe() {
    closeDescriptor(read_);
    closeDescriptor(write_);
}

int Pipe::readDescriptor() const {
    std::lock_guard lock(mutex_);
    return read_;
}

int Pipe::writeDescriptor() const {
    std::lock_guard lock(mutex_);
    return write_;
}

int Pipe::takeReadDescriptor() {
    std::lock_guard lock(mutex_);
    return std::exchange(read_, -1);
}

int Pipe::takeWriteDescriptor() {
    std::lock_guard lock(mutex_);
    return std::exchange(write_, -1);
}

void Pipe::closeReadDescriptor() {
    std::lock_guard lock(mutex_);
    closeDescriptor(read_);
}

void Pipe::closeWriteDescriptor() {
    std::lock_guard lock(mutex_);
    closeDescriptor(write_);
}

// Process

std::shared_ptr<Process> Process::make() {
    return std::shared_ptr<Process>(new Process());
}

void Process::launch() {
    {
        std::lock_guard lock(mutex_);
        if (launched_) {
            throw std::logic_error("Process launched twice");
        }
    }
    if (holdsNul(executablePath)) {
        throwLaunchError(EINVAL, executablePath);
    }
    for (const auto& argument : arguments) {
        if (holdsNul(argument)) {
            throwLaunchError(EINVAL, executablePath);
        }
    }

    FileActions files;
    // The child's side of each stream, for the child only: a copy onto 0, 1 or 2 does not close on
    // exec (one onto the same number is made inheritable by the C library).
    auto arrange = [&](const Stream& stream, int target, bool childReads) {
        if (std::holds_alternative<NullDevice>(stream)) {
            ::posix_spawn_file_actions_addopen(&files.actions, target, "/dev/null",
                                               childReads ? O_RDONLY : O_WRONLY, 0);
        } else if (auto pipe = std::get_if<std::shared_ptr<Pipe>>(&stream); pipe && *pipe) {
            int end = childReads ? (*pipe)->readDescriptor() : (*pipe)->writeDescriptor();
            if (end < 0) {
                throwLaunchError(EBADF, executablePath);
            }
            ::posix_spawn_file_actions_adddup2(&files.actions, end, target);
        }
    };
    arrange(standardInput, STDIN_FILENO, true);
    arrange(standardOutput, STDOUT_FILENO, false);
    arrange(standardError, STDERR_FILENO, false);
    // Nothing else: a descriptor the host holds without close-on-exec stays the host's.
    ::posix_spawn_file_actions_addclosefrom_np(&files.actions, STDERR_FILENO + 1);

    // Its own group, so a stop reaches the tool's own children too; but a tool that shares the
    // caller's terminal stays in the caller's group, since outside the terminal's foreground group
    // its first read would stop it for good. An empty mask and caught signals and SIGPIPE at their
    // defaults, whatever this process and the launching thread set.
    bool ownGroup = !(std::holds_alternative<Inherit>(standardInput) && ::isatty(STDIN_FILENO) == 1);
    SpawnAttributes attributes;
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults = signalsToDefault();
    ::posix_spawnattr_setpgroup(&attributes.attributes, 0);
    ::posix_spawnattr_setsigmask(&attributes.attributes, &none);
    ::posix_spawnattr_setsigdefault(&attributes.attributes, &defaults);
    ::posix_spawnattr_setflags(&attributes.attributes,
                               static_cast<short>((ownGroup ? POSIX_SPAWN_SETPGROUP : 0) |
                                                  POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF));

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(executablePath.c_str()));
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    pid_t child = 0;
    if (int spawnError = ::posix_spawn(&child, executablePath.c_str(), &files.actions, &attributes.attributes,
                                       argv.data(), environ);
        spawnError != 0) {
        throwLaunchError(spawnError, executablePath);
    }
    // The child is ours until reaped, so its pid cannot be reused before the pidfd is taken. Unless
    // something else reaps it (SIGCHLD ignored, or a waitpid for any child elsewhere in the host):
    // then it is gone already, and its end is known to be unknowable.
    int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, child, 0));
    if (pidfd < 0 && errno != ESRCH) {
        int error = errno;
        ::kill(ownGroup ? -child : child, SIGKILL);
        while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
        throwLaunchError(error, executablePath);
    }
    {
        std::lock_guard lock(mutex_);
        launched_ = true;
        pid_ = child;
        ownGroup_ = ownGroup;
        pidfd_ = pidfd;
    }
    // The parent's copies of the child's ends would keep its readers from ever seeing the end.
    if (auto pipe = std::get_if<std::shared_ptr<Pipe>>(&standardInput); pipe && *pipe) {
        (*pipe)->closeReadDescriptor();
    }
    for (const Stream* stream : {&standardOutput, &standardError}) {
        if (auto pipe = std::get_if<std::shared_ptr<Pipe>>(stream); pipe && *pipe) {
            (*pipe)->closeWriteDescriptor();
        }
    }
    // The watch keeps this object alive until the program is reaped. Reaping and the handler run
    // in one step on a pool thread: no further hand-off once the program has ended.
    try {
        detail::afterSpawnStep("watch");
        SerialQueue reaper = terminationQueue ? *terminationQueue : SerialQueue("com.velmor.process-reaper");
        if (pidfd < 0) {
            reaper.async([self = shared_from_this()] { self->reap(); });
        } else {
            IOReactor::shared().whenReadable(pidfd, reaper, [self = shared_from_this()] { self->reap(); });
        }
    } catch (...) {
        // Nothing would watch for its end: the program is stopped and reaped here, and the launch
        // fails with the cause.
        signalGroup(SIGKILL);
        recordEnd();
        throw;
    }
}

void Process::recordEnd() {

    {
        std::lock_guard lock(mutex_);
        siginfo_t info{};
        int waited = -1;
        if (pidfd_ < 0) {
            errno = ECHILD;
        } else {
            do {
                waited = ::waitid(P_PIDFD, static_cast<id_t>(pidfd_), &info, WEXITED);
            } while (waited < 0 && errno == EINTR);
        }
        if (waited < 0) {
            // The zeroed record would read as an exit with status 0: a failure is never success.
            terminationError_ = errno;
            reason_ = TerminationReason::exit;
        } else if (info.si_code == CLD_EXITED) {
            reason_ = TerminationReason::exit;
        } else {
            reason_ = TerminationReason::uncaughtSignal;
        }
        status_ = info.si_status;
        reaped_ = true;
        closeDescriptor(pidfd_);
    }
    ended_.notify_all();
}

void Process::reap() {
    recordEnd();
    if (terminationHandler) {
        terminationHandler(*this);
    }
}

pid_t Process::processIdentifier() const {
    std::lock_guard lock(mutex_);
    return pid_;
}

bool Process::isRunning() const {
    std::lock_guard lock(mutex_);
    return launched_ && !reaped_;
}

int Process::terminationStatus() const {
    std::lock_guard lock(mutex_);
    return status_;
}

Process::TerminationReason Process::terminationReason() const {
    std::lock_guard lock(mutex_);
    return reason_;
}

int Process::terminationError() const {
    std::lock_guard lock(mutex_);
    return terminationError_;
}

void Process::waitUntilExit() {
    std::unique_lock lock(mutex_);
    ended_.wait(lock, [&] { return !launched_ || reaped_; });
}

void Process::signalGroup(int signal) {
    std::lock_guard lock(mutex_);
    if (!launched_) {
        return;
    }
    if (ownGroup_ && (!reaped_ || groupHolds_ > 0)) {
        ::kill(-pid_, signal);
    } else if (!reaped_) {
        ::kill(pid_, signal);
    }
}

void Process::holdGroup() {
    std::lock_guard lock(mutex_);
    ++groupHolds_;
}

void Process::releaseGroup() {
    std::lock_guard lock(mutex_);
    --groupHolds_;
}

void Process::terminate() {
    signalGroup(SIGTERM);
}
void Process::interrupt() {
    signalGroup(SIGINT);
}
void Process::kill() {
    signalGroup(SIGKILL);
}

Process::Result Process::run(const std::string& executablePath, const std::vector<std::string>& arguments) {
    auto process = make();
    auto output = Pipe::make();
    process->executablePath = executablePath;
    process->arguments = arguments;
    process->standardInput = NullDevice{};
    process->standardOutput = output;
    process->launch();

    Result result;
    char buffer[65536];
    int descriptor = output->readDescriptor();
    while (true) {
        ssize_t count = ::read(descriptor, buffer, sizeof buffer);
        if (count > 0) {
            result.standardOutput.append(buffer, static_cast<std::size_t>(count));
        } else if (count == 0 || errno != EINTR) {
            break;
        }
    }
    process->waitUntilExit();
    if (int error = process->terminationError(); error != 0) {
        throw ErrorException(Error::posix(error));
    }
    result.terminationStatus = process->terminationReason() == TerminationReason::exit
                                   ? process->terminationStatus()
                                   : 128 + process->terminationStatus();
    return result;
}

} // namespace velmor
