#include "foundation/core/process/NSTask.hpp"

#include "platform/concurrency/CheckedContinuation.hpp"
#include "platform/dispatch/DispatchGroup.hpp"
#include "platform/dispatch/IOReactor.hpp"
#include "platform/dispatch/Semaphore.hpp"
#include "platform/dispatch/SerialQueue.hpp"
#include "platform/text/UTF8.hpp"

#include <atomic>
#include <mutex>
#include <string_view>
#include <system_error>

namespace velmor {

namespace {

constexpr const char* runQueueLabel = "com.velmor.foundation.process-support";

// Reads `descriptor`, an output of `task`, to its end on `queue`, appending each piece to `*into`,
// and calls `ended` once with the read error (or 0). Once `dropping` (if given) is set, what was kept
// and what comes after is dropped: nobody will receive it. `owner` keeps `*into` and `*dropping`
// alive until then. While the pipe is open, whoever holds it is in the tool's group: the group stays
// signallable after the tool is reaped.
void readInto(int descriptor, const SerialQueue& queue, const std::shared_ptr<Process>& task,
              std::shared_ptr<void> owner, NSTask::Bytes* into, const std::atomic<bool>* dropping,
              std::function<void(int error)> ended) {
    task->holdGroup();
    try {
        IOReactor::shared().readToEnd(descriptor, queue,
                                      [task, owner = std::move(owner), into, dropping,
                                       ended = std::move(ended)](bool done, NSTask::Bytes piece, int error) {
                                          if (dropping != nullptr && dropping->load()) {
                                              NSTask::Bytes().swap(*into);
                                          } else if (into->empty()) {
                                              *into = std::move(piece);
                                          } else {
                                              into->insert(into->end(), piece.begin(), piece.end());
                                          }
                                          if (done) {
                                              task->releaseGroup();
                                              ended(error);
                                          }
                                      });
    } catch (...) {
        task->releaseGroup();
        throw;
    }
}

// What a run fails with when a step throws: a system error as its POSIX cause.
Error runFailure(std::exception_ptr failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::system_error& error) {
        return Error::posix(error.code().value());
    } catch (...) {
        return errorFromException(std::current_exception());
    }
}

// The state of one run of the callback form, shared by its closures.
struct Run {
    SerialQueue queue{runQueueLabel};
    DispatchGroup group;
    std::shared_ptr<Process> task = Process::make();
    std::shared_ptr<Pipe> input;
    std::shared_ptr<Pipe> output;
    std::shared_ptr<Pipe> error;
    std::optional<Error> setupError;
    std::mutex errorLock;
    std::optional<Error> firstError;
    NSTask::Bytes outputBytes;
    NSTask::Bytes errorBytes;
    // Set once nobody will receive the outputs (a blocking run that timed out): the pipes are still
    // drained, so the tool is not blocked, but the bytes are dropped.
    std::atomic<bool> droppingOutput{false};

    void record(Error failure) {
        std::lock_guard lock(errorLock);
        if (!firstError) {
            firstError = std::move(failure);
        }
    }

    // A channel holds a group entry while open; one that cannot be opened ends at once.
    void openChannel(const std::function<void()>& open) {
        group.enter();
        try {
            open();
        } catch (...) {
            abandon(std::current_exception());
            group.leave();
        }
    }

    // A failure once the tool runs: the run fails with it, and the tool is stopped so that its end
    // completes the run.
    void abandon(std::exception_ptr failure) {
        record(runFailure(failure));
        task->kill();
    }

    void endChannel(int code) {
        if (code != 0) {
            record(Error::posix(code));
        }
        group.leave();
    }

    void read(const std::shared_ptr<Run>& self, const std::shared_ptr<Pipe>& pipe, NSTask::Bytes& buffer) {
        openChannel([&] {
            readInto(pipe->takeReadDescriptor(), queue, task, self, &buffer, &droppingOutput,
                     [self](int code) { self->endChannel(code); });
        });
    }

    void launch(const std::shared_ptr<Run>& self, std::optional<NSTask::Bytes> bytes) {
        if (setupError) {
            record(*setupError);
            return;
        }
        group.enter();
        try {
            task->launch();
        } catch (...) {
            record(runFailure(std::current_exception()));
            group.leave();
            return;
        }
        try {
            detail::afterSpawnStep("channels");
            if (bytes) {
                openChannel([&] {
                    IOReactor::shared().writeAll(input->takeWriteDescriptor(), std::move(*bytes), queue,
                                                 [self](int code) { self->endChannel(code); });
                });
            } else {
                // Nothing will be written: a tool that reads its input sees the end instead of waiting.
                input->closeWriteDescriptor();
            }
            read(self, output, outputBytes);
            read(self, error, errorBytes);
        } catch (...) {
            abandon(std::current_exception());
        }
    }
};

std::string lossy(const NSTask::Bytes& bytes) {
    std::string text;
    decodeUTF8Lossily(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), text);
    return text;
}

} // namespace

std::string NSTask::ExecutionResult::description() const {
    return "- returnCode: " + std::to_string(returnCode_) + "\n- stdout: " + stdout_ +
           "\n- stderr: " + stderr_;
}

std::string NSTask::SynchronousRunResult::description() const {
    std::string resultText =
        result_.isSuccess() ? std::to_string(result_.value()) : "failure: " + result_.error().description();
    return "- result: " + resultText + "\n- stdout: " + lossy(stdout_) + "\n- stderr: " + lossy(stderr_);
}

namespace {

std::shared_ptr<Run> startRun(const std::string& executablePath, const std::vector<std::string>& arguments,
                              std::optional<NSTask::Bytes> input, NSTask::CompletionHandler completion) {
    auto run = std::make_shared<Run>();
    try {
        run->input = Pipe::make();
        run->output = Pipe::make();
        run->error = Pipe::make();
        run->task->standardInput = run->input;
        run->task->standardOutput = run->output;
        run->task->standardError = run->error;
    } catch (const ErrorException& failure) {
        run->setupError = failure.error();
    }
    run->task->executablePath = executablePath;
    run->task->arguments = arguments;
    // Holds only the group, so the task and its run do not keep each other alive. It runs on the
    // run queue, where the completion follows on the same thread.
    run->task->terminationHandler = [group = run->group](Process&) { group.leave(); };
    run->task->terminationQueue = run->queue;

    run->group.async([run, bytes = std::move(input)]() mutable { run->launch(run, std::move(bytes)); },
                     run->queue);
    run->group.notify(
        [run, completion = std::move(completion)] {
            std::optional<Error> failure;
            {
                std::lock_guard lock(run->errorLock);
                failure = run->firstError;
            }
            if (int error = run->task->terminationError(); error != 0 && !failure) {
                failure = Error::posix(error);
            }
            auto result = failure ? Result<std::int32_t>::failure(*failure)
                                  : Result<std::int32_t>::success(run->task->terminationStatus());
            completion(std::move(result), std::move(run->outputBytes), std::move(run->errorBytes), run->task);
        },
        run->queue);
    return run;
}

} // namespace

std::shared_ptr<Process> NSTask::run(const std::string& executablePath,
                                     const std::vector<std::string>& arguments, std::optional<Bytes> input,
                                     CompletionHandler completion) {
    return startRun(executablePath, arguments, std::move(input), std::move(completion))->task;
}

NSTask::SynchronousRunResult NSTask::run(const std::string& executablePath,
                                         const std::vector<std::string>& arguments,
                                         std::optional<Bytes> input, double timeout) {
    // Completion and time-out race for one slot; the first fills it whole, the later changes nothing.
    struct Slot {
        std::mutex mutex;
        std::optional<SynchronousRunResult> value;
        Semaphore done;
    };
    auto slot = std::make_shared<Slot>();
    auto run =
        startRun(executablePath, arguments, std::move(input),
                 [slot](Result<std::int32_t> result, Bytes out, Bytes err, std::shared_ptr<Process> process) {
                     {
                         std::lock_guard lock(slot->mutex);
                         if (!slot->value) {
                             slot->value.emplace(std::move(out), std::move(err), std::move(result),
                                                 std::move(process));
                         }
                     }
                     slot->done.signal();
                 });
    slot->done.waitFor(timeout);
    std::lock_guard lock(slot->mutex);
    if (!slot->value) {
        slot->value.emplace(Bytes{}, Bytes{},
                            Result<std::int32_t>::failure(TypedError<SynchronousRunResult::RunError>(
                                                              SynchronousRunResult::RunError::timeout)
                                                              .toError()),
                            run->task);
        run->droppingOutput = true;
    }
    // Moved out, not copied: the slot stays filled, so a completion that comes later still finds
    // it taken.
    return std::move(*slot->value);
}

NSTask::ExecutionResult NSTask::run(const URL& executable, const std::vector<std::string>& arguments) {
    return withCheckedContinuation<ExecutionResult>("NSTask.run", [&](CheckedContinuation<ExecutionResult>
                                                                          done) {
        // Read only after the exit, an output larger than a pipe holds would block the tool for
        // ever: both are drained while it runs, and the result waits for the exit and both ends.
        struct Collect {
            SerialQueue queue{runQueueLabel};
            DispatchGroup group;
            std::shared_ptr<Process> task = Process::make();
            Bytes output;
            Bytes error;
            int readError = 0;
            // What kept a channel from being opened.
            std::exception_ptr failure;
        };
        auto collect = std::make_shared<Collect>();
        auto output = Pipe::make();
        auto error = Pipe::make();
        collect->task->executablePath = executable.path();
        collect->task->arguments = arguments;
        collect->task->standardOutput = output;
        collect->task->standardError = error;
        collect->task->terminationHandler = [group = collect->group](Process&) { group.leave(); };
        collect->task->terminationQueue = collect->queue;
        collect->group.enter();
        try {
            collect->task->launch();
        } catch (...) {
            collect->group.leave();
            done.resumeThrowing(std::current_exception());
            return;
        }
        for (auto [pipe, buffer] : {std::pair{output, &Collect::output}, std::pair{error, &Collect::error}}) {
            collect->group.enter();
            try {
                detail::afterSpawnStep("channels");
                readInto(pipe->takeReadDescriptor(), collect->queue, collect->task, collect,
                         &((*collect).*buffer), nullptr, [collect](int code) {
                             if (code != 0 && collect->readError == 0) {
                                 collect->readError = code;
                             }
                             collect->group.leave();
                         });
            } catch (...) {
                // The tool is stopped, so that its end completes the run.
                if (!collect->failure) {
                    collect->failure = std::current_exception();
                }
                collect->task->kill();
                collect->group.leave();
            }
        }
        collect->group.notify(
            [collect, done] {
                if (collect->failure) {
                    done.resumeThrowing(collect->failure);
                    return;
                }
                if (int error =
                        collect->readError != 0 ? collect->readError : collect->task->terminationError();
                    error != 0) {
                    done.resumeThrowing(ErrorException(Error::posix(error)));
                    return;
                }
                auto text = [](const Bytes& bytes) {
                    std::string_view view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
                    return isValidUTF8(view) ? std::string(view) : std::string("N/A");
                };
                done.resume(ExecutionResult(text(collect->output), text(collect->error),
                                            collect->task->terminationStatus()));
            },
            collect->queue);
    });
}

} // namespace velmor
