// Walks a synthetic tree with FileSystemIterator and with find in the same run (warm cache, best of
// several runs) and prints the ratios. `find -printf ''` needs no status record and stats nothing;
// `find -printf '%s'` stats every entry, as the iterator must to carry a record in every event.
#include "sdk/filesystem/FileSystemIterator.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int topFolders = 200;
constexpr int subFolders = 10;
constexpr int filesPerFolder = 100;
constexpr int runs = 7;

std::string makeTree() {
    std::string root = "/tmp/velmor-walk-bench-XXXXXX";
    if (::mkdtemp(root.data()) == nullptr) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    for (int top = 0; top < topFolders; ++top) {
        std::string topPath = root + "/d" + std::to_string(top);
        ::mkdir(topPath.c_str(), 0755);
        for (int sub = 0; sub < subFolders; ++sub) {
            std::string subPath = topPath + "/s" + std::to_string(sub);
            ::mkdir(subPath.c_str(), 0755);
            for (int file = 0; file < filesPerFolder; ++file) {
                std::string filePath = subPath + "/file-" + std::to_string(file) + ".dat";
                int fd = ::open(filePath.c_str(), O_CREAT | O_WRONLY, 0644);
                if (fd >= 0) {
                    ::close(fd);
                }
            }
        }
    }
    return root;
}

template <typename Work> double bestSeconds(Work work) {
    double best = 1e9;
    for (int run = 0; run < runs; ++run) {
        auto start = std::chrono::steady_clock::now();
        work();
        std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count());
    }
    return best;
}

} // namespace

int main() {
    std::string root = makeTree();
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
        const std::string command = "find '" + root + "' -printf '" + format + "' >/dev/null";
        return [command] {
            if (std::system(command.c_str()) != 0) {
                std::fprintf(stderr, "find failed\n");
                std::exit(1);
            }
        };
    };

    walk(); // warm the cache
    find("")();
    double findSeconds = bestSeconds(find(""));
    double findStatSeconds = bestSeconds(find("%s"));
    double walkSeconds = bestSeconds(walk);

    std::printf("tree: %d files in %d folders; %zu events per walk\n",
                topFolders * subFolders * filesPerFolder, topFolders * (subFolders + 1) + 1, events);
    std::printf("find -printf '':        %.3f s (best of %d)\n", findSeconds, runs);
    std::printf("find -printf '%%s':      %.3f s (best of %d)\n", findStatSeconds, runs);
    std::printf("FileSystemIterator:     %.3f s (best of %d)\n", walkSeconds, runs);
    std::printf("ratio iterator / find -printf '':   %.2f\n", walkSeconds / findSeconds);
    std::printf("ratio iterator / find -printf '%%s': %.2f\n", walkSeconds / findStatSeconds);

    std::filesystem::remove_all(root);
    return 0;
}
