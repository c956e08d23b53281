#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
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

// Runs the current test again in a fresh process of this executable (filtered to that test, with
// `isChildTestRun()` true there) and gives its exit code, or -1 when it had to be killed after
// `seconds` of real time. A fresh process rather than a bare fork: a fork of a threaded process
// copies locks that other threads held. For tests that change process-wide limits.
inline int runCurrentTestInChild(double seconds = 60) {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string filter = std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
    std::string marker = std::string(childTestVariable) + "=1";
    std::vector<char*> arguments{const_cast<char*>("/proc/self/exe"), filter.data(), nullptr};
    std::vector<char*> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        environment.push_back(*entry);
    }
    environment.push_back(marker.data());
    environment.push_back(nullptr);

    pid_t child = ::fork();
    if (child == 0) {
        ::execve("/proc/self/exe", arguments.data(), environment.data());
        ::_exit(127);
    }
    if (child < 0) {
        return -1;
    }
    auto limit = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= limit) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            std::fprintf(stderr, "The child run of %s did not finish within %g s\n", filter.c_str(), seconds);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
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
