#include "app/ui/program/TerminationSignals.hpp"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace marrowdale {
namespace {

// The write end of the pipe, for the signal handler, which may use nothing else.
std::atomic<int> writeEnd{-1};

void noteSignal(int) {
    const int saved = errno;
    const char byte = 1;
    // A full pipe already holds a wake-up.
    [[maybe_unused]] auto written = ::write(writeEnd.load(), &byte, 1);
    errno = saved;
}

} // namespace

TerminationSignals::TerminationSignals(std::function<void()> handler) : handler_(std::move(handler)) {
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::runtime_error(std::string("Could not make the pipe for termination signals: ") +
                                 std::strerror(errno));
    }
    writeEnd.store(pipe_[1]);
    notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] {
        char bytes[16];
        while (::read(pipe_[0], bytes, sizeof bytes) > 0) {
        }
        if (handler_) {
            handler_();
        }
    });
    struct sigaction action = {};
    action.sa_handler = noteSignal;
    action.sa_flags = SA_RESTART;
    ::sigemptyset(&action.sa_mask);
    for (std::size_t at = 0; at < std::size(handledSignals); ++at) {
        ::sigaction(handledSignals[at], &action, &previous_[at]);
    }
}

TerminationSignals::~TerminationSignals() {
    for (std::size_t at = 0; at < std::size(handledSignals); ++at) {
        ::sigaction(handledSignals[at], &previous_[at], nullptr);
    }
    writeEnd.store(-1);
    notifier_.reset();
    ::close(pipe_[0]);
    ::close(pipe_[1]);
}

} // namespace marrowdale
