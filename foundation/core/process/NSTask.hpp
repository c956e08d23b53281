#pragma once

#include "platform/error/Error.hpp"
#include "platform/error/Result.hpp"
#include "platform/fs/URL.hpp"
#include "platform/process/Process.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmor {

// Runs command-line tools with their standard streams on pipes.
struct NSTask {
    using Bytes = std::vector<std::uint8_t>;
    using CompletionHandler = std::function<void(Result<std::int32_t> result, Bytes standardOutput,
                                                 Bytes standardError, std::shared_ptr<Process> task)>;

    // What the blocking form hands back; after a time-out the caller owns the still running task.
    class SynchronousRunResult {
    public:
        enum class RunError { timeout };

        SynchronousRunResult(Bytes out, Bytes err, Result<std::int32_t> result,
                             std::shared_ptr<Process> process)
            : stdout_(std::move(out)), stderr_(std::move(err)), result_(std::move(result)),
              internalProcess_(std::move(process)) {}

        const Bytes& stdout() const { return stdout_; }
        const Bytes& stderr() const { return stderr_; }
        // The termination status, the run's first error, or `RunError::timeout`.
        const Result<std::int32_t>& result() const { return result_; }
        const std::shared_ptr<Process>& internalProcess() const { return internalProcess_; }

        // "- result: ...\n- stdout: ...\n- stderr: ...", the outputs read as UTF-8 with U+FFFD for
        // ill-formed sequences.
        std::string description() const;

    private:
        Bytes stdout_;
        Bytes stderr_;
        Result<std::int32_t> result_;
        std::shared_ptr<Process> internalProcess_;
    };

    // What the asynchronous form hands back: both outputs as text ("N/A" when not valid UTF-8).
    class ExecutionResult {
    public:
        ExecutionResult(std::string out, std::string err, std::int64_t returnCode)
            : stdout_(std::move(out)), stderr_(std::move(err)), returnCode_(returnCode) {}

        const std::string& stdout() const { return stdout_; }
        const std::string& stderr() const { return stderr_; }
        std::int64_t returnCode() const { return returnCode_; }

        // "- returnCode: ...\n- stdout: ...\n- stderr: ..."
        std::string description() const;

    private:
        std::string stdout_;
        std::string stderr_;
        std::int64_t returnCode_;
    };

    // Starts `executablePath` with all three streams on pipes and returns its task at once; the
    // launch follows on the run's own queue. Given input is written whole; with none, the tool's
    // standard input ends at once. `completion` runs once on the run's queue after the program has
    // ended and every stream is closed: success with the termination status (a non-zero exit
    // included), or the run's first error (the launch error, or a POSIX read or write error such
    // as EPIPE when the tool exits before taking all the input, or ECHILD when its end cannot be
    // learned), with both outputs and the task.
    static std::shared_ptr<Process> run(const std::string& executablePath,
                                        const std::vector<std::string>& arguments, std::optional<Bytes> input,
                                        CompletionHandler completion);

    // The callback form, waited for up to `timeout` seconds on the current timer service. On
    // time-out: `RunError::timeout`, empty outputs and the task still running, never signalled;
    // stopping it is the caller's.
    static SynchronousRunResult run(const std::string& executablePath,
                                    const std::vector<std::string>& arguments, std::optional<Bytes> input,
                                    double timeout);

    // Runs `executable` to its end from a task, waiting on the calling thread; standard input is
    // the caller's. Both outputs are drained while the tool runs. Throws the launch error, or a
    // POSIX error when an output cannot be read or the tool's end cannot be learned (ECHILD).
    static ExecutionResult run(const URL& executable, const std::vector<std::string>& arguments);
};

template <> struct ErrorDomain<NSTask::SynchronousRunResult::RunError> {
    static constexpr const char* value = "VelmorFoundation.NSTask.SynchronousRunResult.RunError";
};

} // namespace velmor
