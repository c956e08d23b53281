#include "sdk/finder/FileFinder.hpp"

#include "platform/concurrency/Task.hpp"
#include "sdk/finder/spotlight/SpotlightFileFinderAnalyzer.hpp"
#include "sdk/finder/tree/TreeFileFinderAnalyzer.hpp"

namespace sweepkit {

namespace {

std::unique_ptr<FileFinderAnalyzer> makeAnalyzer(FileFinderEngine engine,
                                                 const std::shared_ptr<const SweepKitLogger>& logger) {
    if (engine == FileFinderEngine::spotlight) {
        return std::make_unique<SpotlightFileFinderAnalyzer>(logger);
    }
    return std::make_unique<TreeFileFinderAnalyzer>(logger);
}

} // namespace

AnalysisResult FileFinder::find(const std::vector<velmor::URL>& urls,
                                const FoundItemCallback& foundItemCallback,
                                const ProcessedItemCallback& processedItemCallback) const {
    if (engines.empty()) {
        throw velmor::TypedError<Error>(Error::noEngineSpecified);
    }
    for (std::size_t index = 0;; ++index) {
        const Engine engine = engines[index];
        try {
            AnalysisResult result = makeAnalyzer(engine, logger)
                                        ->analyze(urls, *criterion, foundItemCallback, processedItemCallback);
            if (logger) {
                logger->debug([&] {
                    return std::string("Result provided by ") + caseName(engine) + " for " +
                           velmor::describe(urls) + " with criterion " + criterion->description();
                });
            }
            return result;
        } catch (...) {
            if (logger) {
                const velmor::Error error = velmor::errorFromException(std::current_exception());
                logger->debug([&] {
                    return std::string("Skipped ") + caseName(engine) +
                           " because it failed to handle request: " + error.description();
                });
            }
            if (index + 1 == engines.size()) {
                throw;
            }
        }
    }
}

std::shared_ptr<velmor::Progress> FileFinder::startSearch(std::vector<velmor::URL> urls,
                                                          FoundItemCallback foundItemCallback,
                                                          Completion completion) const {
    auto progress = std::make_shared<velmor::Progress>(0);
    auto task = velmor::Task<>::start([finder = *this, urls = std::move(urls),
                                       found = std::move(foundItemCallback),
                                       completion = std::move(completion), progress] {
        AnalysisResult result;
        try {
            // Only this task counts, so the read and the write need not be one step.
            result = finder.find(urls, found, [&progress] {
                progress->setCompletedUnitCount(progress->completedUnitCount() + 1);
            });
        } catch (...) {
            result =
                AnalysisResult{{},
                               {ProcessingError{velmor::errorFromException(std::current_exception()), ""}},
                               false,
                               false};
        }
        completion(std::move(result));
    });
    progress->setCancellationHandler([task] { task.cancel(); });
    return progress;
}

} // namespace sweepkit
