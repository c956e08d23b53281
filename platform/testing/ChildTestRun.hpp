#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace velmor::testing {

inline constexpr const char* childTestVariable = "VELMOR_TEST_IN_CHILD";

// Whether this process is the fresh copy that `runCurrentTestInChild` started.
inline bool isChildTestRun() {
    const char* value = std::getenv(childTestVariable);
    return value != nullptr && std::string(value) == "1";
}

// Starts the current test again in a fresh process of this executable (filtered to that test, with
// `isChildTestRun()` true there and each "NAME=value" of `variables` added to its environment) and
// gives its pid, or -1. A fresh process rather than a bare fork: a fork of a threaded process copies
// locks that other threads held, and a child that then allocates can wait on them for ever.
//
// With a `launcher` (a program and its first arguments), the child is that program, given this
// executable and its arguments after them: for a child that needs a fixture of its own.
inline pid_t startCurrentTestInChild(const std::vector<std::string>& variables = {},
                                     const std::vector<std::string>& launcher = {}) {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string filter = std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
    std::string marker = std::string(childTestVariable) + "=1";
    // A launcher would see its own executable at /proc/self/exe.
    std::string executable = "/proc/self/exe";
    if (!launcher.empty()) {
        char path[4096];
        ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
        if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path) {
            return -1;
        }
        executable.assign(path, static_cast<std::size_t>(length));
    }
    std::vector<char*> arguments;
    for (const auto& argument : launcher) {
        arguments.push_back(const_cast<char*>(argument.c_str()));
    }
    arguments.push_back(executable.data());
    arguments.push_back(filter.data());
    arguments.push_back(nullptr);
    std::vector<char*> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        environment.push_back(*entry);
    }
    environment.push_back(marker.data());
    for (const auto& variable : variables) {
        environment.push_back(const_cast<char*>(variable.c_str()));
    }
    environment.push_back(nullptr);

    // Everything is made before the fork: the child only replaces itself.
    pid_t child = ::fork();
    if (child == 0) {
        ::execve(arguments[0], arguments.data(), environment.data());
        ::_exit(127);
    }
    return child < 0 ? -1 : child;
}

// Waits for a child run that `startCurrentTestInChild` started and gives its exit code, or -1 when
// it could not start or had to be killed after `seconds` of real time.
inline int waitForChildTest(pid_t child, double seconds = 60) {
    if (child < 0) {
        return -1;
    }
    auto limit = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= limit) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
            std::fprintf(stderr, "The child run of %s.%s did not finish within %g s\n",
                         test->test_suite_name(), test->name(), seconds);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs the current test again in a fresh process (see `startCurrentTestInChild`) and gives its exit
// code, or -1. For tests that change process-wide limits.
inline int runCurrentTestInChild(double seconds = 60) {
    return waitForChildTest(startCurrentTestInChild(), seconds);
}

// For a test that forks after threads may have started: the child of such a fork has the
// bookkeeping of the parent's threads (a pool's idle workers, a service's running thread) but not
// the threads, so work it hands them never runs. In the parent run, runs the test again in a fresh
// process, where no other test ran before it, expects that run to pass and gives false: the test
// ends there. In the fresh run gives true: the test goes on.
inline bool continuesInFreshProcess(double seconds = 60) {
    if (isChildTestRun()) {
        return true;
    }
    EXPECT_EQ(runCurrentTestInChild(seconds), 0) << "the run of this test in a fresh process failed or hung";
    return false;
}

// For the parent run of a test whose child needs root (to change its limits): runs the child and
// expects it to pass, or skips the test when not root.
inline void expectChildRunAsRootPasses() {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "the child run of this test needs root, to change its limits";
    }
    EXPECT_EQ(runCurrentTestInChild(), 0) << "the child run failed or hung";
}

} // namespace velmor::testing
