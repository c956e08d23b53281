#include "sdk/duplicates/pipeline/Lookahead.hpp"

#include "platform/dispatch/DispatchGroup.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <system_error>

namespace sweepkit::pipeline {

namespace {

// Fewer pieces than this are done on the caller's thread alone: handing them over costs more.
constexpr std::size_t piecesPerThread = 12;

void runQuietly(const std::function<void()>& work) {
    try {
        work();
    } catch (...) {
        // The work keeps its own failures; one that escapes is dropped, and the processing then
        // does the work itself.
    }
}

} // namespace

Lookahead::~Lookahead() {
    for (auto& [owner, cleanup] : cleanups_) {
        runQuietly(cleanup);
    }
}

void Lookahead::atEnd(const void* owner, std::function<void()> cleanup) {
    const bool known = std::any_of(cleanups_.begin(), cleanups_.end(),
                                   [&](const auto& entry) { return entry.first == owner; });
    if (!known) {
        cleanups_.emplace_back(owner, std::move(cleanup));
    }
}

void Lookahead::fulfil(std::size_t width) {
    std::vector<std::function<void()>> work = std::move(pending_);
    pending_.clear();
    const std::size_t threads =
        std::clamp<std::size_t>(work.size() / piecesPerThread, 1, std::max<std::size_t>(width, 1));
    // Each thread takes the next piece until none is left, so one slow file holds up no other.
    // The helpers are waited for below, so they may use what lives here.
    std::atomic<std::size_t> next = 0;
    auto drain = [&work, &next] {
        for (std::size_t index = next++; index < work.size(); index = next++) {
            runQuietly(work[index]);
        }
    };
    velmor::DispatchGroup group;
    std::exception_ptr failure;
    for (std::size_t helper = 1; helper < threads; ++helper) {
        try {
            group.async(drain);
        } catch (const std::system_error&) {
            // The pool is full: the threads started and this one do the rest.
            break;
        } catch (...) {
            failure = std::current_exception();
            break;
        }
    }
    if (failure) {
        // The helpers started use `work` and `next`: no piece more is handed out, and they are
        // waited for before the failure leaves.
        next = work.size();
    } else {
        drain();
    }
    group.wait();
    if (failure) {
        std::rethrow_exception(failure);
    }
}

} // namespace sweepkit::pipeline
