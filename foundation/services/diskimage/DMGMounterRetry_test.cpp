#include "foundation/services/diskimage/DMGMounterRetry.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace velmor::dmgmounter {
namespace {

// An operation that fails its first `failures` calls with "failure N" and then answers its call count.
struct Flaky {
    int failures;
    int calls = 0;
    int operator()() {
        ++calls;
        if (calls <= failures) {
            throw std::runtime_error("failure " + std::to_string(calls));
        }
        return calls;
    }
};

struct RetryRun {
    int calls;
    std::vector<long> pauses;
    std::string error; // empty when a value came back
};

RetryRun runRetry(int times, int failures) {
    Flaky operation{failures};
    std::vector<long> pauses;
    const Sleeper record = [&](std::chrono::seconds pause) { pauses.push_back(static_cast<long>(pause.count())); };
    try {
        const int value = retry(times, [&] { return operation(); }, record);
        EXPECT_EQ(value, operation.calls);
        return {operation.calls, pauses, ""};
    } catch (const std::runtime_error& error) {
        return {operation.calls, pauses, error.what()};
    }
}

TEST(DMGMounterRetryTest, AttemptsAndPausesFollowTheCount) {
    struct Case {
        int times;
        int failures;
        int calls;
        std::vector<long> pauses;
        std::string error;
    };
    const std::vector<Case> cases = {
        {0, 5, 1, {}, "failure 1"},       // no count still runs once
        {1, 5, 1, {}, "failure 1"},
        {-2, 0, 1, {}, ""},
        {3, 2, 3, {1, 2}, ""},            // third attempt succeeds after 1 s and 2 s
        {3, 5, 3, {1, 2}, "failure 3"},   // the last error wins, earlier ones are dropped
        {3, 0, 1, {}, ""},
        {10, 20, 10, {1, 2, 3, 4, 5, 6, 7, 8, 9}, "failure 10"},
    };
    for (const auto& expected : cases) {
        SCOPED_TRACE("times " + std::to_string(expected.times) + ", failures " + std::to_string(expected.failures));
        const RetryRun run = runRetry(expected.times, expected.failures);
        EXPECT_EQ(run.calls, expected.calls);
        EXPECT_EQ(run.pauses, expected.pauses);
        EXPECT_EQ(run.error, expected.error);
    }
}

} // namespace
} // namespace velmor::dmgmounter
