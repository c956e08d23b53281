#include "platform/process/ChildSpawn.hpp"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <memory>
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

// Code the child runs while it shares the parent's memory: a sanitizer's bookkeeping there would
// change the parent's, so it is not instrumented and makes only raw system calls (a library call
// that a sanitizer intercepts would run its bookkeeping all the same).
#define VELMOR_CHILD_CODE __attribute__((no_sanitize("address", "thread", "undefined")))

// The C library's own entry for `clone`. A thread sanitizer wraps `clone` as if it were a fork and
// then resets its bookkeeping in the child, which here is the parent's own memory.
extern "C" int __clone(int (*function)(void*), void* stack, int flags, void* argument, ...);

namespace velmor::detail {

namespace {

constexpr std::size_t childStackSize = 64 << 10;

// The kernel's own record of a signal action. Zeroed, it is the default disposition with nothing
// blocked, whether or not the kernel's layout has the restorer field.
struct KernelSigaction {
    void* handler = nullptr;
    unsigned long flags = 0;
    void* restorer = nullptr;
    std::uint64_t mask = 0;
};

constexpr long kernelSigsetSize = 8;
constexpr int lastSignal = 64;

struct ChildContext {
    const ChildSpawnRequest* request;
    // Set by a child that cannot run the program; read by the parent once the child has gone.
    std::atomic<int> error{0};
};

// A system call: its result, or minus the error.
VELMOR_CHILD_CODE inline long rawCall(long number, long a = 0, long b = 0, long c = 0, long d = 0) {
    long result = ::syscall(number, a, b, c, d);
    return result < 0 ? -errno : result;
}

VELMOR_CHILD_CODE long arrangeStream(const ChildStream& stream, int target) {
    switch (stream.kind) {
    case ChildStream::Kind::inherited:
        return 0;
    case ChildStream::Kind::descriptor:
        // A copy onto itself would keep close-on-exec: the flag is cleared instead.
        if (stream.descriptor == target) {
            return rawCall(SYS_fcntl, target, F_SETFD, 0);
        }
        return rawCall(SYS_dup3, stream.descriptor, target, 0);
    case ChildStream::Kind::nullDevice: {
        long opened = rawCall(SYS_openat, AT_FDCWD, reinterpret_cast<long>("/dev/null"),
                              target == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (opened < 0 || opened == target) {
            return opened;
        }
        long copied = rawCall(SYS_dup3, opened, target, 0);
        rawCall(SYS_close, opened);
        return copied;
    }
    }
    return 0;
}

// Caught signals go back to their default, since no handler of the parent's may run here or in
// the program; SIGPIPE goes back to its default even when ignored. Other ignored ones stay so.
VELMOR_CHILD_CODE void resetSignals() {
    for (int signal = 1; signal <= lastSignal; ++signal) {
        if (signal == SIGKILL || signal == SIGSTOP) {
            continue;
        }
        KernelSigaction current;
        if (rawCall(SYS_rt_sigaction, signal, 0, reinterpret_cast<long>(&current), kernelSigsetSize) < 0) {
            continue;
        }
        bool caught = current.handler != nullptr && current.handler != reinterpret_cast<void*>(SIG_IGN);
        if (caught || signal == SIGPIPE) {
            KernelSigaction standard;
            rawCall(SYS_rt_sigaction, signal, reinterpret_cast<long>(&standard), 0, kernelSigsetSize);
        }
    }
}

VELMOR_CHILD_CODE int childMain(void* argument) {
    auto& context = *static_cast<ChildContext*>(argument);
    const ChildSpawnRequest& request = *context.request;
    long failure = rawCall(SYS_setpgid, 0, 0);
    for (int target = 0; failure >= 0 && target < 3; ++target) {
        failure = arrangeStream(request.streams[static_cast<std::size_t>(target)], target);
    }
    if (failure >= 0) {
        resetSignals();
        std::uint64_t none = 0;
        rawCall(SYS_rt_sigprocmask, SIG_SETMASK, reinterpret_cast<long>(&none), 0, kernelSigsetSize);
        failure = rawCall(SYS_execve, reinterpret_cast<long>(request.path), reinterpret_cast<long>(request.arguments),
                          reinterpret_cast<long>(request.environment));
    }
    context.error.store(static_cast<int>(-failure), std::memory_order_relaxed);
    rawCall(SYS_exit_group, 127);
    return 127;
}

} // namespace

int spawnChild(const ChildSpawnRequest& request, pid_t& child) {
    thread_local std::unique_ptr<char[]> stack;
    if (!stack) {
        stack.reset(new char[childStackSize]);
    }
    auto top = (reinterpret_cast<std::uintptr_t>(stack.get()) + childStackSize) & ~std::uintptr_t{15};

    ChildContext context{&request};
    // Everything blocked across the spawn: the child inherits the mask, so no signal reaches it
    // before it has put its signals back to their defaults.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    pid_t pid = ::__clone(childMain, reinterpret_cast<void*>(top), CLONE_VM | CLONE_VFORK | SIGCHLD, &context);
    int cloneError = pid < 0 ? errno : 0;
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (pid < 0) {
        return cloneError;
    }
    if (int error = context.error.load(std::memory_order_relaxed); error != 0) {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        return error;
    }
    child = pid;
    return 0;
}

} // namespace velmor::detail
