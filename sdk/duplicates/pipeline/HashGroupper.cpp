#include "sdk/duplicates/pipeline/HashGroupper.hpp"

#include "platform/concurrency/CancellationError.hpp"
#include "platform/hashing/HMAC.hpp"
#include "sdk/duplicates/pipeline/ListedFile.hpp"

#include <algorithm>
#include <array>
#include <exception>
#include <map>
#include <unordered_map>
#include <vector>

namespace sweepkit::pipeline {

namespace {

// Whether `stat` still describes the file `listed` did: a digest made for one is the other's.
bool sameListing(const velmor::Stat* listed, const velmor::Stat& stat) {
    return listed != nullptr && stat.st_dev == listed->st_dev && stat.st_ino == listed->st_ino &&
           stat.st_size == listed->st_size && stat.st_mtimespec == listed->st_mtimespec;
}

// The keyed digest of at most `maxReadSize` leading bytes of the event's file, read in chunks of
// `buffer`'s size.
Digest digestOf(const Event& event, std::int64_t maxReadSize, velmor::HMAC& hmac,
                std::vector<std::uint8_t>& buffer, const velmor::ProgressHandler* probe) {
    ListedFile file(event);
    // Reading one byte past the listed size tells a file that grew from one that did not.
    const std::int64_t expected = std::min(file.size(), maxReadSize);
    const std::int64_t limit = file.size() < maxReadSize ? file.size() + 1 : maxReadSize;
    const auto bufferSize = static_cast<std::int64_t>(buffer.size());
    hmac.reset();
    std::int64_t total = 0;
    while (total < limit) {
        if (probe != nullptr && probe->isCancelled()) {
            throw velmor::CancellationError();
        }
        const auto wanted = static_cast<std::size_t>(std::min(bufferSize, limit - total));
        const std::size_t count = file.read(std::span(buffer).first(wanted));
        hmac.update(std::span(buffer).first(count));
        total += static_cast<std::int64_t>(count);
        if (count < wanted) {
            break;
        }
    }
    if (total != expected) {
        throw velmor::ErrorException(ListedFile::changedError(event.path()));
    }
    Digest digest;
    hmac.finalize(digest.span());
    return digest;
}

// A digest worked out beforehand: filled on another thread, read here once the lookahead is done.
struct Prefetched {
    velmor::Stat stat;
    bool done = false;
    Digest digest;
    std::exception_ptr failure;
};

} // namespace

// What the copies of a computer share over a run: one digest context, one chunk buffer, the last
// few digests that cover a whole file, so that another level need not read it again, and the
// digests a lookahead worked out for each level.
class HashGroupper::Run {
public:
    Run(std::uint32_t algorithm, std::int64_t bufferSize)
        : hmac(static_cast<velmor::HMAC::Algorithm>(algorithm), {}),
          buffer(static_cast<std::size_t>(bufferSize)) {}

    const Digest* wholeDigest(const Event& event) const {
        for (const auto& entry : recent_) {
            if (!entry.path.empty() && entry.path == event.path() && sameListing(event.stat(), entry.stat)) {
                return &entry.digest;
            }
        }
        return nullptr;
    }
    void rememberWholeDigest(const Event& event, const Digest& digest) {
        Remembered& entry = recent_[next_];
        next_ = (next_ + 1) % recent_.size();
        entry.path = event.path();
        entry.stat = *event.stat();
        entry.digest = digest;
    }

    // The digests worked out beforehand for the files of one level, by path.
    std::unordered_map<std::string, Prefetched>& prefetched(std::int64_t maxReadSize) {
        return prefetched_[maxReadSize];
    }
    // A digest worked out beforehand at another level that covers the whole of the event's file,
    // a file of one chunk: it is the digest at every level that reads the whole of it.
    const Digest* prefetchedWholeDigest(const Event& event, std::int64_t chunk) const {
        for (const auto& [maxReadSize, files] : prefetched_) {
            auto found = files.find(event.path());
            if (event.stat()->st_size <= std::min(chunk, maxReadSize) && found != files.end() &&
                found->second.done && !found->second.failure &&
                sameListing(event.stat(), found->second.stat)) {
                return &found->second.digest;
            }
        }
        return nullptr;
    }
    void dropPrefetched() { prefetched_.clear(); }

    velmor::HMAC hmac;
    std::vector<std::uint8_t> buffer;

private:
    struct Remembered {
        std::string path;
        velmor::Stat stat;
        Digest digest;
    };

    // A new group's first two files are digested at one level, then at the next: four covers them.
    std::array<Remembered, 4> recent_;
    std::size_t next_ = 0;
    std::map<std::int64_t, std::unordered_map<std::string, Prefetched>> prefetched_;
};

HashGroupper::HashGroupper(std::int64_t maxReadSize, std::shared_ptr<const velmor::Logger> logger,
                           std::shared_ptr<const velmor::ProgressHandler> probe)
    : level_(std::make_shared<const Level>(
          Level{maxReadSize, std::move(logger), std::move(probe), std::make_shared<Run>(md5, chunkSize)})) {}

HashGroupper HashGroupper::readingUpTo(std::int64_t maxReadSize) const {
    return HashGroupper(
        std::make_shared<const Level>(Level{maxReadSize, level_->logger, level_->probe, level_->run}));
}

std::optional<HashGroupper::IdentifierType> HashGroupper::identifier(const Event& event) const {
    Run& run = *level_->run;
    const velmor::Stat* listed = event.stat();
    const bool fitsOneChunk =
        listed != nullptr && listed->st_size <= std::min(bufferSize(), level_->maxReadSize);
    // A digest of a whole file is remembered however it was made, as the next level may ask for it.
    auto taken = [&](const Digest& digest) {
        if (fitsOneChunk && run.wholeDigest(event) == nullptr) {
            run.rememberWholeDigest(event, digest);
        }
        return digest;
    };

    auto& prefetched = run.prefetched(level_->maxReadSize);
    if (auto found = prefetched.find(event.path()); found != prefetched.end()) {
        Prefetched entry = std::move(found->second);
        prefetched.erase(found);
        if (entry.done && sameListing(listed, entry.stat)) {
            if (entry.failure) {
                std::rethrow_exception(entry.failure);
            }
            return taken(entry.digest);
        }
    }
    if (fitsOneChunk) {
        if (const Digest* digest = run.wholeDigest(event)) {
            return *digest;
        }
    }
    return taken(digestOf(event, level_->maxReadSize, run.hmac, run.buffer, level_->probe.get()));
}

std::optional<HashGroupper::IdentifierType> HashGroupper::anticipatedIdentifier(const Event& event,
                                                                                Lookahead& lookahead) const {
    Run& run = *level_->run;
    const velmor::Stat* listed = event.stat();
    if (listed == nullptr) {
        return std::nullopt;
    }
    auto& prefetched = run.prefetched(level_->maxReadSize);
    if (auto found = prefetched.find(event.path()); found != prefetched.end()) {
        const Prefetched& entry = found->second;
        if (entry.done && !entry.failure && sameListing(listed, entry.stat)) {
            return entry.digest;
        }
        return std::nullopt;
    }
    lookahead.atEnd(&run, [run = level_->run] { run->dropPrefetched(); });
    Prefetched& entry = prefetched[event.path()];
    entry.stat = *listed;

    // A file of one chunk has the digest it was given at another level, now or before.
    if (listed->st_size <= std::min(bufferSize(), level_->maxReadSize)) {
        const Digest* digest = run.prefetchedWholeDigest(event, bufferSize());
        if (digest == nullptr) {
            digest = run.wholeDigest(event);
        }
        if (digest != nullptr) {
            entry.digest = *digest;
            entry.done = true;
            return entry.digest;
        }
    }

    lookahead.request([&entry, event, maxReadSize = level_->maxReadSize, probe = level_->probe] {
        try {
            // One context and buffer for each thread that works for a lookahead.
            thread_local velmor::HMAC context(static_cast<velmor::HMAC::Algorithm>(md5), {});
            thread_local std::vector<std::uint8_t> buffer(static_cast<std::size_t>(chunkSize));
            entry.digest = digestOf(event, maxReadSize, context, buffer, probe.get());
        } catch (...) {
            entry.failure = std::current_exception();
        }
        entry.done = true;
    });
    return std::nullopt;
}

} // namespace sweepkit::pipeline
