#pragma once

#include "foundation/core/progress/ProgressHandler.hpp"
#include "platform/fs/Stat.hpp"
#include "platform/testing/PrivilegeDrop.hpp"
#include "sdk/filesystem/Event.hpp"

#include <atomic>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace sweepkit::pipeline::testing {

// A progress probe that counts how often it is asked, and says "cancelled" when `cancelledAt`
// holds for the question's number (counted from 1).
class CountingProbe : public velmor::ProgressHandler {
public:
    explicit CountingProbe(std::function<bool(int)> cancelledAt = [](int) { return false; })
        : cancelledAt_(std::move(cancelledAt)) {}

    bool isCancelled() const override { return cancelledAt_(++asked_); }
    void incrementTotalUnitCount() override {}
    void incrementCompletedUnitCount() override {}
    void completed() override {}

    int asked() const { return asked_; }

private:
    std::function<bool(int)> cancelledAt_;
    mutable std::atomic<int> asked_{0};
};

// The file event a walk gives for `path` as it stands now.
inline Event listedFile(const std::string& path) {
    auto stat = velmor::Stat::lstatPath(path);
    if (!stat) {
        throw std::runtime_error("cannot list " + path);
    }
    return Event::file(path, *stat, true);
}

// Runs `body` as the unprivileged user in a forked child and hands back the text it returned.
// Nothing when privileges cannot be dropped here (not root).
inline std::optional<std::string> runUnprivileged(const std::function<std::string()>& body) {
    if (::geteuid() != 0) {
        return std::nullopt;
    }
    int channel[2];
    if (::pipe(channel) != 0) {
        throw std::runtime_error("cannot make a pipe");
    }
    const int status = velmor::testing::runAsUnprivilegedUser([&] {
        ::close(channel[0]);
        const std::string text = body();
        return ::write(channel[1], text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0 : 1;
    });
    ::close(channel[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t count; (count = ::read(channel[0], buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(count));
    }
    ::close(channel[0]);
    if (status != 0) {
        throw std::runtime_error("the unprivileged child failed with status " + std::to_string(status));
    }
    return text;
}

} // namespace sweepkit::pipeline::testing
