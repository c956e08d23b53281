// Searches the synthetic tree for files larger than 1 MB with the tree engine, and in the same run
// with `find -type f -size +1M` and `du -s` (warm cache, best of several runs); prints the ratios
// and the peak memory of the search and of the peer tools.
#include "bench/BestOf.hpp"
#include "bench/PeakMemory.hpp"
#include "bench/ShellCommand.hpp"
#include "bench/SyntheticTree.hpp"
#include "sdk/finder/criteria/StatCriterionFactory.hpp"
#include "sdk/finder/tree/TreeFileFinderAnalyzer.hpp"

#include <cstdio>
#include <string>

namespace {

constexpr int runs = 7;
constexpr std::int64_t megabyte = 1024 * 1024;
// Every 625th file is made 2 MB long: 320 matches in 200,000 files.
constexpr int largeEvery = 625;

} // namespace

int main() {
    const bench::SyntheticTree tree(largeEvery, 2 * megabyte);
    const std::string& root = tree.root();
    const auto criterion = sweepkit::StatCriterionFactory::sizeGreaterThan(megabyte);
    const sweepkit::TreeFileFinderAnalyzer analyzer(nullptr);
    std::size_t matches = 0;
    std::size_t judged = 0;

    auto search = [&] {
        matches = 0;
        judged = 0;
        auto result = analyzer.analyze(
            {velmor::URL::fileURL(root)}, *criterion, [&](const sweepkit::FileSystemItem&) { ++matches; },
            [&] { ++judged; });
        if (!result.errors.empty()) {
            std::fprintf(stderr, "the search met %zu errors\n", result.errors.size());
            std::exit(1);
        }
    };
    auto find = bench::shellCommand("find '" + root + "' -type f -size +1M >/dev/null");
    auto du = bench::shellCommand("du -s '" + root + "' >/dev/null");

    const long peakBefore = bench::peakKilobytes(RUSAGE_SELF);
    search(); // warms the cache
    find();
    du();
    const double searchSeconds = bench::bestSeconds(runs, search);
    const double findSeconds = bench::bestSeconds(runs, find);
    const double duSeconds = bench::bestSeconds(runs, du);

    std::printf("tree: %d files in %d folders; %zu larger than 1 MB, %zu judged per search\n",
                bench::SyntheticTree::files, bench::SyntheticTree::folders, matches, judged);
    std::printf("find -type f -size +1M: %.3f s (best of %d)\n", findSeconds, runs);
    std::printf("du -s:                  %.3f s (best of %d)\n", duSeconds, runs);
    std::printf("tree engine:            %.3f s (best of %d)\n", searchSeconds, runs);
    std::printf("ratio tree engine / find: %.2f\n", searchSeconds / findSeconds);
    std::printf("ratio tree engine / du:   %.2f\n", searchSeconds / duSeconds);
    std::printf("peak memory: benchmark %ld KB (%ld KB before searching), largest peer tool %ld KB\n",
                bench::peakKilobytes(RUSAGE_SELF), peakBefore, bench::peakKilobytes(RUSAGE_CHILDREN));
    return 0;
}
