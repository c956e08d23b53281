#pragma once

#include <csignal>
#include <functional>
#include <iterator>
#include <memory>

class QSocketNotifier;

namespace marrowdale {

// Turns SIGTERM, SIGINT and SIGHUP into a call of `handler` on the main thread, so that a program
// asked to end from outside ends as if its window were closed. The previous dispositions come back
// when the object goes. One at a time per process.
class TerminationSignals {
public:
    explicit TerminationSignals(std::function<void()> handler);
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

private:
    static constexpr int handledSignals[] = {SIGTERM, SIGINT, SIGHUP};

    std::function<void()> handler_;
    int pipe_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
    struct sigaction previous_[std::size(handledSignals)] = {};
};

} // namespace marrowdale
