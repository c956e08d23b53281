#include "sdk/finder/spotlight/SpotlightEngine.hpp"

#include "platform/concurrency/CancellationError.hpp"
#include "platform/concurrency/Task.hpp"
#include "platform/dispatch/TimerService.hpp"
#include "platform/fs/Volume.hpp"
#include "platform/metadata/ComparisonPredicate.hpp"
#include "platform/metadata/MetadataAttributes.hpp"
#include "platform/metadata/MetadataQuery.hpp"
#include "sdk/finder/SpotlightFileFinderAnalyzerError.hpp"
#include "sdk/finder/spotlight/SpotlightItem.hpp"

namespace sweepkit {

namespace md = velmor::metadata;

namespace {

// Time as the sleeps see it, so that a test moving the timer clock moves the limit too.
class Stopwatch {
public:
    Stopwatch() : service_(velmor::TimerService::current()), start_(service_->now()) {}
    double elapsedSeconds() const { return std::chrono::duration<double>(service_->now() - start_).count(); }

private:
    std::shared_ptr<velmor::TimerService> service_;
    velmor::TimerService::TimePoint start_;
};

} // namespace

SpotlightEngine& SpotlightEngine::shared() {
    static SpotlightEngine engine;
    return engine;
}

std::vector<FileSystemItem>
SpotlightEngine::runQuery(const std::vector<velmor::URL>& roots, const FileMatchingCriterion& criterion,
                          const std::shared_ptr<const SweepKitLogger>& logger) const {
    return actor_.run([&] {
        for (const auto& root : roots) {
            if (!actor_.suspend([&] { return isIndexingEnabled(root); })) {
                throw SpotlightFileFinderAnalyzerError(SpotlightFileFinderAnalyzerError::Case::notIndexed);
            }
        }
        md::MetadataQuery query;
        query.setSearchScopes(roots);
        query.setPredicate(criterion.spotlightPredicate());
        query.setValueListAttributes({md::NSMetadataItemFSSizeKey});
        if (logger) {
            logger->debug([&] {
                return "Starting spotlight query with predicate: Optional(" +
                       query.predicate()->predicateFormat() + "), scope: " + velmor::describe(roots);
            });
        }
        query.start();
        const Stopwatch stopwatch;

        while (query.isGathering() && !velmor::AnyTask::isCancelled()) {
            if (stopwatch.elapsedSeconds() >= requestTimeout) {
                break;
            }
            try {
                actor_.sleep(pollInterval);
            } catch (const velmor::CancellationError&) {
                query.stop();
                throw;
            }
        }
        if (stopwatch.elapsedSeconds() >= requestTimeout) {
            query.stop();
            throw SpotlightFileFinderAnalyzerError(
                SpotlightFileFinderAnalyzerError::Case::timeoutWaitingForResults);
        }

        std::vector<FileSystemItem> items;
        items.reserve(query.resultCount());
        for (const auto& result : query.results()) {
            if (auto item = makeSpotlightItem(result)) {
                items.push_back(std::move(*item));
            }
        }
        query.stop();
        return items;
    });
}

bool SpotlightEngine::probeQuery(const velmor::URL& directory) const {
    return actor_.run([&] {
        md::MetadataQuery query;
        query.setSearchScopes({directory});
        query.setPredicate(md::ComparisonPredicate::make(
            md::NSMetadataItemFSSizeKey, md::ComparisonOperator::greaterThanOrEqualTo, std::int64_t{0}));
        query.start();
        const Stopwatch stopwatch;
        // The probe stops at its first result.
        while (query.resultCount() == 0 && query.isGathering() && !velmor::AnyTask::isCancelled() &&
               stopwatch.elapsedSeconds() < requestTimeout) {
            try {
                actor_.sleep(pollInterval);
            } catch (const velmor::CancellationError&) {
                // The loop's own check sees the cancellation.
            }
        }
        query.stop();
        return stopwatch.elapsedSeconds() < requestTimeout && query.resultCount() > 0;
    });
}

bool SpotlightEngine::isIndexingEnabled(const velmor::URL& url) const {
    if (velmor::Volume::isVolume(url)) {
        return indexStatusTool.isIndexed(url);
    }
    if (velmor::Volume::isDirectory(url)) {
        return probeQuery(url);
    }
    return false;
}

} // namespace sweepkit
