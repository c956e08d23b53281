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

    std::int64_t bufferSize() const { return chunkSize; }
    // The HMAC algorithm by its platform number: 1 is MD5.
    std::uint32_t algorithm() const { return md5; }
    std::int64_t digestLength() const { return 16; }
    std::int64_t maxReadSize() const { return level_->maxReadSize; }
    // Kept for the callers that hand one in; nothing is logged.
    const std::shared_ptr<const velmor::Logger>& logger() const { return level_->logger; }

private:
    static constexpr std::int64_t chunkSize = 4000;
    static constexpr std::uint32_t md5 = 1;

    class Run;
    // What the copies of a computer at one level share. Every grouping node of the level holds a
    // copy, so a copy is one handle.
    struct Level {
        std::int64_t maxReadSize;
        std::shared_ptr<const velmor::Logger> logger;
        std::shared_ptr<const velmor::ProgressHandler> probe;
        std::shared_ptr<Run> run;
    };

    explicit HashGroupper(std::shared_ptr<const Level> level) : level_(std::move(level)) {}

    std::shared_ptr<const Level> level_;
};

} // namespace sweepkit::pipeline
