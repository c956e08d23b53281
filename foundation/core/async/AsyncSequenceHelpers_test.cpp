#include "foundation/core/async/AsyncSequenceHelpers.hpp"
#include "foundation/core/async/ScriptedSequence.hpp"
#include "platform/concurrency/AsyncStream.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmor {
namespace {

using testing::ScriptedSequence;

std::exception_ptr failure(const char* message) {
    return std::make_exception_ptr(std::runtime_error(message));
}

// Writes down every handler call of an observation, in order: "1", "error: <message>", "end".
class HandlerLog {
public:
    auto resultHandler() {
        return [this](int element) { add(std::to_string(element)); };
    }
    auto errorHandler() {
        return [this](std::exception_ptr error) {
            try {
                std::rethrow_exception(error);
            } catch (const std::exception& caught) {
                add(std::string("error: ") + caught.what());
            }
        };
    }
    auto completionHandler() {
        return [this] { add("end"); };
    }
    std::vector<std::string> calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    void add(std::string call) {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
    }
    std::mutex mutex_;
    std::vector<std::string> calls_;
};

template <typename S> std::vector<std::string> observeToEnd(S sequence) {
    HandlerLog log;
    observe(sequence, log.resultHandler(), log.errorHandler(), log.completionHandler()).value();
    return log.calls();
}

TEST(AsyncSequenceHelpers, LastKeepsTheFinalElementAndPassesErrorsOn) {
    ScriptedSequence<int> empty;
    empty.finish();
    EXPECT_EQ(last(empty), std::nullopt);

    ScriptedSequence<int> one;
    one.push(7).finish();
    EXPECT_EQ(last(one), 7);

    ScriptedSequence<int> failing;
    failing.push(1).push(2).fail(failure("broken"));
    EXPECT_THROW(last(failing), std::runtime_error);
}

TEST(AsyncSequenceHelpers, ObserveHandsElementsErrorsAndTheEndToTheHandlers) {
    struct Case {
        const char* name;
        std::function<void(const ScriptedSequence<int>&)> script;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {"empty", [](auto& s) { s.finish(); }, {"end"}},
        {"one element", [](auto& s) { s.push(1).finish(); }, {"1", "end"}},
        {"throws first", [](auto& s) { s.fail(failure("boom")); }, {"error: boom", "end"}},
        {"throws after two", [](auto& s) { s.push(1).push(2).fail(failure("boom")); }, {"1", "2", "error: boom", "end"}},
    };
    for (const auto& c : cases) {
        ScriptedSequence<int> sequence;
        c.script(sequence);
        EXPECT_EQ(observeToEnd(sequence), c.calls) << c.name;
    }
}

TEST(AsyncSequenceHelpers, ObservingSequencesOfSequencesReadsEachInnerOneToItsEnd) {
    using Inner = ScriptedSequence<int>;
    auto inner = [](std::function<void(const Inner&)> script) {
        Inner sequence;
        script(sequence);
        return sequence;
    };
    struct Case {
        const char* name;
        std::function<void(const ScriptedSequence<Inner>&)> script;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {"[[1, 2], [], [3]]",
         [&](auto& s) {
             s.push(inner([](auto& i) { i.push(1).push(2).finish(); }))
                 .push(inner([](auto& i) { i.finish(); }))
                 .push(inner([](auto& i) { i.push(3).finish(); }))
                 .finish();
         },
         {"1", "2", "3", "end"}},
        {"an inner sequence fails after 1",
         [&](auto& s) {
             s.push(inner([](auto& i) { i.push(1).fail(failure("inner")); }))
                 .push(inner([](auto& i) { i.push(2).finish(); }))
                 .finish();
         },
         {"1", "error: inner", "2", "end"}},
        {"the outer sequence fails",
         [&](auto& s) { s.push(inner([](auto& i) { i.push(1).finish(); })).fail(failure("outer")); },
         {"1", "error: outer", "end"}},
    };
    for (const auto& c : cases) {
        ScriptedSequence<Inner> sequence;
        c.script(sequence);
        EXPECT_EQ(observeToEnd(sequence), c.calls) << c.name;
    }
}

TEST(AsyncSequenceHelpers, TheNextElementIsAskedForOnlyOnceTheHandlerHasReturned) {
    ScriptedSequence<int> sequence;
    sequence.push(1).push(2).push(3).finish();
    std::vector<int> requestsSeenByHandler;
    observe(
        sequence, [&](int) { requestsSeenByHandler.push_back(sequence.counts().nextCalls); },
        [](std::exception_ptr) {}, [] {})
        .value();
    EXPECT_EQ(requestsSeenByHandler, (std::vector<int>{1, 2, 3}));
}

TEST(AsyncSequenceHelpers, ACancelledObservationCallsNothingForAnElementThatArrivesLater) {
    ScriptedSequence<int> sequence;
    HandlerLog log;
    auto observation = observe(sequence, log.resultHandler(), log.errorHandler(), log.completionHandler());
    ASSERT_TRUE(sequence.waitUntil([](auto& counts) { return counts.nextCalls == 1; }));
    observation.cancel();
    sequence.push(1).push(2).finish();
    observation.wait();
    EXPECT_TRUE(log.calls().empty());
    EXPECT_EQ(sequence.counts().nextCalls, 1) << "the dropped element ends the observation";
}

TEST(AsyncSequenceHelpers, ACancelledObservationReportsASequenceThatThenEnds) {
    ScriptedSequence<int> scripted;
    HandlerLog scriptedLog;
    auto observation =
        observe(scripted, scriptedLog.resultHandler(), scriptedLog.errorHandler(), scriptedLog.completionHandler());
    ASSERT_TRUE(scripted.waitUntil([](auto& counts) { return counts.nextCalls == 1; }));
    observation.cancel();
    scripted.finish();
    observation.wait();
    EXPECT_EQ(scriptedLog.calls(), std::vector<std::string>{"end"});

    // A stream ends by itself when its reader is cancelled.
    auto [stream, continuation] = AsyncStream<int>::makeStream();
    HandlerLog streamLog;
    auto streamObservation =
        observe(stream, streamLog.resultHandler(), streamLog.errorHandler(), streamLog.completionHandler());
    streamObservation.cancel();
    streamObservation.wait();
    EXPECT_EQ(streamLog.calls(), std::vector<std::string>{"end"});
}

} // namespace
} // namespace velmor
