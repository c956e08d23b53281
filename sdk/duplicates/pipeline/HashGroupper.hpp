#pragma once

#include "foundation/core/log/Logger.hpp"
#include "foundation/core/progress/ProgressHandler.hpp"
#include "sdk/duplicates/pipeline/Digest.hpp"
#include "sdk/duplicates/pipeline/Lookahead.hpp"
#include "sdk/filesystem/Event.hpp"

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>

namespace sweepkit::pipeline {

// Groups files by the HMAC-MD5, with an empty key, of at most `maxReadSize` leading bytes. The file
// is read in chunks of `bufferSize` bytes, only when it is still the file the walk listed (see
// `ListedFile`); a file that cannot be read, or that changes while it is read, throws an error
// carrying its path. When the probe says the work is cancelled, the next chunk throws
// `CancellationError` instead, so even a very large file stops promptly.
//
// A computer is copied into every grouping node of its level; the copies share one digest
// context, so a computer and its copies are used from one thread at a time. Only the digests that
// a lookahead works out beforehand are made on other threads, each with a context of its own.
class HashGroupper {
public:
    using IdentifierType = Digest;

    static constexpr std::int64_t wholeFile = std::numeric_limits<std::int64_t>::max();

    HashGroupper(std::int64_t maxReadSize, std::shared_ptr<const velmor::Logger> logger,
                 std::shared_ptr<const velmor::ProgressHandler> probe = nullptr);

    // A computer of the same run that reads at most `maxReadSize` bytes: it shares this one's
    // context and probe, and takes the digest of a file no longer than one chunk from the digests
    // this one made instead of reading the file again.
    HashGroupper readingUpTo(std::int64_t maxReadSize) const;

    // A digest worked out beforehand for this event (see `anticipatedIdentifier`) is taken, and its
    // failure thrown, as if it were worked out now.
    std::optional<IdentifierType> identifier(const Event& event) const;
    // The digest when it was worked out beforehand, or covers the file at another level; otherwise
    // it asks `lookahead` to work it out, on any thread, and answers nothing. A failure is kept
    // for `identifier` to throw.
    std::optional<IdentifierType> anticipatedIdentifier(const Event& event, Lookahead& lookahead) const;

    std::int64_t bufferSize() const { return bufferSize_; }
    // The HMAC algorithm by its platform number: 1 is MD5.
    std::uint32_t algorithm() const { return algorithm_; }
    std::int64_t digestLength() const { return digestLength_; }
    std::int64_t maxReadSize() const { return maxReadSize_; }
    // Kept for the callers that hand one in; nothing is logged.
    const std::shared_ptr<const velmor::Logger>& logger() const { return logger_; }

private:
    class Run;

    HashGroupper(std::int64_t maxReadSize, std::shared_ptr<const velmor::Logger> logger,
                 std::shared_ptr<const velmor::ProgressHandler> probe, std::shared_ptr<Run> run);

    std::int64_t bufferSize_ = 4000;
    std::uint32_t algorithm_ = 1;
    std::int64_t digestLength_ = 16;
    std::int64_t maxReadSize_;
    std::shared_ptr<const velmor::Logger> logger_;
    std::shared_ptr<const velmor::ProgressHandler> probe_;
    std::shared_ptr<Run> run_;
};

} // namespace sweepkit::pipeline
