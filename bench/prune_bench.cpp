// Prunes 100,000 individually selected rows from a result tree the way a clean does (in batches
// that double in size), once laid out as 1,000 folders of 100 rows and once as one folder of
// 100,000, and prints the times. For scale it also prunes 5,000 and 20,000 rows one at a time, as
// cleans did before, each with a search of the tree (last row first, so that each search walks
// what is left): that grows with the square of the number of rows.
#include "app/model/nodes/Selection.hpp"
#include "platform/concurrency/RunLoop.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

namespace {

template <typename Work> double secondsOf(Work&& work) {
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

using marrowdale::CleanableNode;
using marrowdale::CleanableNodes;
using sweepkit::FileSystemItem;
using sweepkit::FileSystemNode;

FileSystemNode file(const std::string& path) {
    velmor::Stat stat;
    stat.st_size = 4096;
    stat.st_blksize = 4096;
    return FileSystemNode::item(FileSystemItem{velmor::URL::fileURL(path), stat, true});
}

// `folders` folders of `rows / folders` files each, every file selected.
CleanableNodes forest(int rows, int folders) {
    std::vector<FileSystemNode> top;
    for (int f = 0; f < folders; ++f) {
        std::vector<FileSystemNode> files;
        const std::string folder = "/r/d" + std::to_string(f);
        for (int i = 0; i < rows / folders; ++i) {
            files.push_back(file(folder + "/f" + std::to_string(i)));
        }
        top.push_back(FileSystemNode::folder(velmor::URL::fileURL(folder), 4096LL * (rows / folders),
                                             std::move(files)));
    }
    return {CleanableNode::node(
        FileSystemNode::folder(velmor::URL::fileURL("/r"), 4096LL * rows, std::move(top)))};
}

std::unordered_set<std::string> allFiles(int rows, int folders) {
    std::unordered_set<std::string> ids;
    for (int f = 0; f < folders; ++f) {
        for (int i = 0; i < rows / folders; ++i) {
            ids.insert("/r/d" + std::to_string(f) + "/f" + std::to_string(i));
        }
    }
    return ids;
}

// Times pruning every selected row, in batches that double in size. The forest is built anew for
// each run, outside the timing.
double batched(int rows, int folders) {
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        CleanableNodes nodes = forest(rows, folders);
        CleanableNodes selected = marrowdale::selectedNodes(allFiles(rows, folders), nodes);
        best = std::min(best, secondsOf([&] {
                            std::vector<marrowdale::CleanedNode> pending;
                            std::size_t pruned = 0;
                            for (const auto& node : selected) {
                                pending.push_back({node, nullptr});
                                if (pending.size() >= std::max<std::size_t>(pruned, 1)) {
                                    marrowdale::pruneCleanedNodes(pending, nodes);
                                    pruned += pending.size();
                                    pending.clear();
                                }
                            }
                            marrowdale::pruneCleanedNodes(pending, nodes);
                        }));
        if (!nodes.empty()) {
            std::fprintf(stderr, "rows were left after pruning\n");
            std::exit(1);
        }
    }
    return best;
}

double oneByOne(int rows, int folders) {
    CleanableNodes nodes = forest(rows, folders);
    CleanableNodes selected = marrowdale::selectedNodes(allFiles(rows, folders), nodes);
    return secondsOf([&] {
        for (auto node = selected.rbegin(); node != selected.rend(); ++node) {
            marrowdale::pruneCleanedNodes((*node)->id(), nullptr, nodes);
        }
    });
}

} // namespace

int main() {
    velmor::ScopedMainRunLoop main; // rows live on the main thread
    constexpr int rows = 100000;
    std::printf("pruning %d rows, 1,000 folders of 100:  %.3f s (best of 3)\n", rows, batched(rows, 1000));
    std::printf("pruning %d rows, one folder:            %.3f s (best of 3)\n", rows, batched(rows, 1));
    std::printf("pruning 5000 rows one at a time, 50 folders, last first: %.3f s\n", oneByOne(5000, 50));
    std::printf("pruning 20000 rows one at a time, 200 folders, last first: %.3f s\n", oneByOne(20000, 200));
    return 0;
}
