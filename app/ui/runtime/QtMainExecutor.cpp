#include "app/ui/runtime/QtMainExecutor.hpp"

#include <QSocketNotifier>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>
#include <sys/eventfd.h>
#include <unistd.h>

namespace marrowdale {

QtMainExecutor::QtMainExecutor() : wakeup_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (wakeup_ < 0) {
        throw std::runtime_error(std::string("Could not make the main thread's wake-up descriptor: ") +
                                 std::strerror(errno));
    }
    notifier_ = std::make_unique<QSocketNotifier>(wakeup_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] { runPosted(); });
}

QtMainExecutor::~QtMainExecutor() {
    notifier_.reset();
    ::close(wakeup_);
}

void QtMainExecutor::post(std::function<void()> job) {
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    const std::uint64_t one = 1;
    // Only a counter at its maximum refuses a write, and then the loop is already due to wake.
    [[maybe_unused]] auto written = ::write(wakeup_, &one, sizeof one);
}

void QtMainExecutor::runPosted() {
    std::uint64_t count = 0;
    [[maybe_unused]] auto read = ::read(wakeup_, &count, sizeof count);
    runBatch();
}

void QtMainExecutor::runPending() {
    while (runBatch()) {
    }
}

bool QtMainExecutor::runBatch() {
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard lock(mutex_);
        batch.swap(jobs_);
    }
    if (batch.empty()) {
        return false;
    }
    for (auto& job : batch) {
        // An error may not unwind through Qt's event loop; a job that fails is reported and the
        // others still run.
        try {
            job();
        } catch (const std::exception& error) {
            std::fprintf(stderr, "A job on the main thread failed: %s\n", error.what());
        } catch (...) {
            std::fprintf(stderr, "A job on the main thread failed\n");
        }
        job = nullptr;
    }
    return true;
}

} // namespace marrowdale
