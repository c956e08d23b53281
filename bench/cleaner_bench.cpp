// Deletes a synthetic tree of 50,000 small files through FileCleaner and, in the same run, an
// identical tree with `rm -rf`, and prints the ratio of the times (best of several runs, each on a
// fresh pair of trees). FileCleaner is given the tree's top folders below the tree as root, as a
// clean gives it entries below a scan root: each is reached from the root without following links.
#include "bench/BestOf.hpp"
#include "bench/ShellCommand.hpp"
#include "bench/SyntheticTree.hpp"
#include "sdk/finder/cleaning/FileCleaner.hpp"

#include <chrono>
#include <cstdio>
#include <future>
#include <string>
#include <vector>

namespace {

constexpr int topFolders = 50; // 50,000 files
constexpr off_t fileSize = 100;
constexpr int runs = 5;

double seconds(std::chrono::steady_clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

} // namespace

int main() {
    const sweepkit::FileCleaner cleaner;
    double bestCleaner = 1e9;
    double bestRemove = 1e9;
    std::uint64_t reclaimed = 0;
    for (int run = 0; run < runs; ++run) {
        bench::SyntheticTree forCleaner = bench::SyntheticTree::withTopFolders(topFolders, fileSize);
        bench::SyntheticTree forRemove = bench::SyntheticTree::withTopFolders(topFolders, fileSize);
        ::sync();

        auto removeWithRm = [&] {
            auto start = std::chrono::steady_clock::now();
            bench::shellCommand("rm -rf '" + forRemove.root() + "'")();
            bestRemove = std::min(bestRemove, seconds(std::chrono::steady_clock::now() - start));
        };
        // The first removal after the trees were written pays for more of the disk's backlog:
        // the two take turns going first.
        if (run % 2 == 1) {
            removeWithRm();
        }
        auto start = std::chrono::steady_clock::now();
        std::promise<sweepkit::CleaningResult> done;
        std::vector<velmor::URL> entries;
        for (int folder = 0; folder < topFolders; ++folder) {
            entries.push_back(velmor::URL::fileURL(forCleaner.root() + "/d" + std::to_string(folder)));
        }
        cleaner.clean(std::move(entries), {velmor::URL::fileURL(forCleaner.root())}, false,
                      [&](sweepkit::CleaningResult result) { done.set_value(std::move(result)); });
        auto result = done.get_future().get();
        bestCleaner = std::min(bestCleaner, seconds(std::chrono::steady_clock::now() - start));
        if (!result.errors.empty()) {
            std::fprintf(stderr, "FileCleaner failed: %s\n",
                         result.errors.front().error.description().c_str());
            return 1;
        }
        reclaimed = result.reclaimedBytes;
        if (run % 2 == 0) {
            removeWithRm();
        }
    }
    std::printf("tree: %d files of %ld bytes; FileCleaner reclaimed %llu bytes per run\n", topFolders * 1000,
                static_cast<long>(fileSize), static_cast<unsigned long long>(reclaimed));
    std::printf("rm -rf:        %.3f s (best of %d)\n", bestRemove, runs);
    std::printf("FileCleaner:   %.3f s (best of %d)\n", bestCleaner, runs);
    std::printf("ratio FileCleaner / rm -rf: %.2f\n", bestCleaner / bestRemove);
    return 0;
}
