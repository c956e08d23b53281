// Walks a synthetic tree with FileSystemIterator and with find in the same run (warm cache, best of
// several runs) and prints the ratios. `find -printf ''` needs no status record and stats nothing;
// `find -printf '%s'` stats every entry, as the iterator must to carry a record in every event.
#include "bench/BestOf.hpp"
#include "bench/ShellCommand.hpp"
#include "bench/SyntheticTree.hpp"
#include "sdk/filesystem/FileSystemIterator.hpp"

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

constexpr int runs = 7;

} // namespace

int main() {
    const bench::SyntheticTree tree;
    const std::string& root = tree.root();
    const std::vector<std::uint32_t> groups = sweepkit::currentUserGroups();
    std::size_t events = 0;

    auto walk = [&] {
        sweepkit::FileSystemIterator iterator(velmor::URL::fileURL(root), sweepkit::Options::physical,
                                              ::getuid(), groups);
        events = 0;
        while (auto event = iterator.next()) {
            ++events;
        }
    };
    auto find = [&](const std::string& format) {
        return bench::shellCommand("find '" + root + "' -printf '" + format + "' >/dev/null");
    };

    walk(); // warm the cache
    find("")();
    double findSeconds = bench::bestSeconds(runs, find(""));
    double findStatSeconds = bench::bestSeconds(runs, find("%s"));
    double walkSeconds = bench::bestSeconds(runs, walk);

    std::printf("tree: %d files in %d folders; %zu events per walk\n", bench::SyntheticTree::files,
                bench::SyntheticTree::folders, events);
    std::printf("find -printf '':        %.3f s (best of %d)\n", findSeconds, runs);
    std::printf("find -printf '%%s':      %.3f s (best of %d)\n", findStatSeconds, runs);
    std::printf("FileSystemIterator:     %.3f s (best of %d)\n", walkSeconds, runs);
    std::printf("ratio iterator / find -printf '':   %.2f\n", walkSeconds / findSeconds);
    std::printf("ratio iterator / find -printf '%%s': %.2f\n", walkSeconds / findStatSeconds);
    return 0;
}
