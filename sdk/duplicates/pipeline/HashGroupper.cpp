#include "sdk/duplicates/pipeline/HashGroupper.hpp"

#include "platform/concurrency/CancellationError.hpp"
#include "platform/hashing/HMAC.hpp"
#include "sdk/duplicates/pipeline/ListedFile.hpp"

#include <algorithm>
#include <array>
#include <vector>

namespace sweepkit::pipeline {

// What the copies of a computer share over a run: one digest context, one chunk buffer, and the
// last few digests that cover a whole file, so that another level need not read it again.
class HashGroupper::Run {
public:
    Run(std::uint32_t algorithm, std::int64_t bufferSize)
        : hmac(static_cast<velmor::HMAC::Algorithm>(algorithm), {}),
          buffer(static_cast<std::size_t>(bufferSize)) {}

    const std::string* wholeDigest(const Event& event) const {
        for (const auto& entry : recent_) {
            if (entry.matches(event)) {
                return &entry.digest;
            }
        }
        return nullptr;
    }
    void rememberWholeDigest(const Event& event, const std::string& digest) {
        Remembered& entry = recent_[next_];
        next_ = (next_ + 1) % recent_.size();
        entry.path = event.path();
        entry.stat = *event.stat();
        entry.digest = digest;
    }

    velmor::HMAC hmac;
    std::vector<std::uint8_t> buffer;

private:
    struct Remembered {
        std::string path;
        velmor::Stat stat;
        std::string digest;

        bool matches(const Event& event) const {
            const velmor::Stat* listed = event.stat();
            return listed != nullptr && !digest.empty() && path == event.path() &&
                   stat.st_dev == listed->st_dev && stat.st_ino == listed->st_ino &&
                   stat.st_size == listed->st_size && stat.st_mtimespec == listed->st_mtimespec;
        }
    };

    // A new group's first two files are digested at one level, then at the next: four covers them.
    std::array<Remembered, 4> recent_;
    std::size_t next_ = 0;
};

HashGroupper::HashGroupper(std::int64_t maxReadSize, std::shared_ptr<const velmor::Logger> logger,
                           std::shared_ptr<const velmor::ProgressHandler> probe)
    : maxReadSize_(maxReadSize), logger_(std::move(logger)), probe_(std::move(probe)),
      run_(std::make_shared<Run>(algorithm_, bufferSize_)) {}

HashGroupper::HashGroupper(std::int64_t maxReadSize, std::shared_ptr<const velmor::Logger> logger,
                           std::shared_ptr<const velmor::ProgressHandler> probe, std::shared_ptr<Run> run)
    : maxReadSize_(maxReadSize), logger_(std::move(logger)), probe_(std::move(probe)), run_(std::move(run)) {}

HashGroupper HashGroupper::readingUpTo(std::int64_t maxReadSize) const {
    return HashGroupper(maxReadSize, logger_, probe_, run_);
}

std::optional<HashGroupper::IdentifierType> HashGroupper::identifier(const Event& event) const {
    const velmor::Stat* listed = event.stat();
    const bool fitsOneChunk = listed != nullptr && listed->st_size <= std::min(bufferSize_, maxReadSize_);
    if (fitsOneChunk) {
        if (const std::string* digest = run_->wholeDigest(event)) {
            return *digest;
        }
    }

    ListedFile file(event);
    // Reading one byte past the listed size tells a file that grew from one that did not.
    const std::int64_t expected = std::min(file.size(), maxReadSize_);
    const std::int64_t limit = file.size() < maxReadSize_ ? file.size() + 1 : maxReadSize_;
    velmor::HMAC& hmac = run_->hmac;
    hmac.reset();
    std::int64_t total = 0;
    while (total < limit) {
        if (probe_ && probe_->isCancelled()) {
            throw velmor::CancellationError();
        }
        const auto wanted = static_cast<std::size_t>(std::min(bufferSize_, limit - total));
        const std::size_t count = file.read(std::span(run_->buffer).first(wanted));
        hmac.update(std::span(run_->buffer).first(count));
        total += static_cast<std::int64_t>(count);
        if (count < wanted) {
            break;
        }
    }
    if (total != expected) {
        throw velmor::ErrorException(ListedFile::changedError(event.path()));
    }

    std::string digest(static_cast<std::size_t>(digestLength_), '\0');
    hmac.finalize(std::span(reinterpret_cast<std::uint8_t*>(digest.data()), digest.size()));
    if (fitsOneChunk) {
        run_->rememberWholeDigest(event, digest);
    }
    return digest;
}

} // namespace sweepkit::pipeline
