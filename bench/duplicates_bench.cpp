// Finds the duplicates of fixed trees with the duplicate finder, jdupes and rmlint in one run (warm
// cache, best of several runs) and prints the times, the ratios and the peak memory. Each tree is
// made in a process of its own and measured in another, so that neither the making of a tree nor
// another tree counts in a peak: a process keeps the memory it once had as its peak, and its malloc
// arenas keep what it freed, so a tree made where the finder then runs would raise the finder's
// peak on the first run on a machine only.
// The mixed tree holds the loads of a real search: many small files with copies among them, one
// file copied into thousands of folders, and large files that differ only in their last byte. The
// many-files tree holds 200,000 files with many of one size, so that most are digested.
#include "bench/BestOf.hpp"
#include "bench/PeakMemory.hpp"
#include "bench/PeerOutput.hpp"
#include "bench/ShellCommand.hpp"
#include "sdk/duplicates/DuplicateFinder.hpp"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr int runs = 5;

// A small fixed generator, so every run makes the same tree.
struct Generator {
    std::uint64_t state;
    std::uint64_t next() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
};

std::string contents(std::size_t size, std::uint64_t seed) {
    std::string bytes(size, '\0');
    Generator generator{seed * 0x9E3779B97F4A7C15ull + 1};
    for (std::size_t index = 0; index < size; index += 8) {
        const std::uint64_t word = generator.next();
        for (std::size_t byte = 0; byte < 8 && index + byte < size; ++byte) {
            bytes[index + byte] = static_cast<char>(word >> (8 * byte));
        }
    }
    return bytes;
}

void write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

void makeMixedTree(const std::string& root) {
    Generator generator{42};
    // 100 x 10 folders of 100 files, sizes log-uniform from 64 B to 64 KB, a quarter of them copies
    // of earlier files.
    struct Recipe {
        std::size_t size;
        std::uint64_t seed;
    };
    std::vector<Recipe> made;
    for (int top = 0; top < 100; ++top) {
        for (int middle = 0; middle < 10; ++middle) {
            const std::string folder = root + "/tree/" + std::to_string(top) + "/" + std::to_string(middle);
            std::filesystem::create_directories(folder);
            for (int file = 0; file < 100; ++file) {
                Recipe recipe;
                if (!made.empty() && generator.next() % 4 == 0) {
                    recipe = made[generator.next() % made.size()];
                } else {
                    const double exponent =
                        6.0 + 10.0 * static_cast<double>(generator.next() % 1000000) / 1e6;
                    recipe = {static_cast<std::size_t>(std::pow(2.0, exponent)), made.size() + 1};
                }
                made.push_back(recipe);
                write(folder + "/" + std::to_string(file), contents(recipe.size, recipe.seed));
            }
        }
    }
    // 5,000 folders holding the same file under one name, and a file of their own.
    const std::string shared = contents(1000, 1u << 30);
    for (int folder = 0; folder < 5000; ++folder) {
        const std::string path = root + "/shared/" + std::to_string(folder);
        std::filesystem::create_directories(path);
        write(path + "/same", shared);
        write(path + "/own", contents(500, (1u << 31) + static_cast<std::uint64_t>(folder)));
    }
    // 8 pairs of 8 MB files that differ only in the last byte, and 4 pairs of 8 MB copies.
    std::filesystem::create_directories(root + "/large");
    for (int pair = 0; pair < 12; ++pair) {
        std::string bytes = contents(8 << 20, (1ull << 40) + static_cast<std::uint64_t>(pair));
        write(root + "/large/" + std::to_string(pair) + "-a", bytes);
        if (pair < 8) {
            bytes.back() = static_cast<char>(bytes.back() ^ 1);
        }
        write(root + "/large/" + std::to_string(pair) + "-b", bytes);
    }
}

// 2,000 folders of 100 files, sizes uniform from 1 B to 22,000 B: each size is shared by about nine
// files, most of them different, and one file in eight is a copy of an earlier one.
void makeManyFilesTree(const std::string& root) {
    Generator generator{7};
    std::vector<std::pair<std::size_t, std::uint64_t>> made;
    for (int top = 0; top < 40; ++top) {
        for (int middle = 0; middle < 50; ++middle) {
            const std::string folder = root + "/" + std::to_string(top) + "/" + std::to_string(middle);
            std::filesystem::create_directories(folder);
            for (int file = 0; file < 100; ++file) {
                std::pair<std::size_t, std::uint64_t> recipe;
                if (!made.empty() && generator.next() % 8 == 0) {
                    recipe = made[generator.next() % made.size()];
                } else {
                    recipe = {1 + generator.next() % 22000, made.size() + 1};
                }
                made.push_back(recipe);
                write(folder + "/f" + std::to_string(file), contents(recipe.first, recipe.second));
            }
        }
    }
}

struct Tree {
    const char* name;
    std::string root;
    // Changes whenever the tree's recipe does, so an old tree is made again.
    std::string recipe;
    const char* size;
    void (*make)(const std::string& root);
};

const Tree trees[] = {
    {"mixed", "/tmp/velmor-duplicates-bench", "recipe 1", "about 1.4 GB", makeMixedTree},
    {"many-files", "/tmp/velmor-duplicates-bench-many", "recipe 1", "about 2.2 GB", makeManyFilesTree},
};

bool isMade(const Tree& tree) {
    std::ifstream marker(tree.root + "/.recipe");
    std::string existing;
    return std::getline(marker, existing) && existing == tree.recipe;
}

void makeTree(const Tree& tree) {
    if (isMade(tree)) {
        return;
    }
    std::printf("making the tree under %s (%s)\n", tree.root.c_str(), tree.size);
    std::filesystem::remove_all(tree.root);
    tree.make(tree.root);
    write(tree.root + "/.recipe", tree.recipe + "\n");
}

// Reads every file of the tree once, so that every tool finds it in the cache.
void warmCache(const std::string& root) {
    static char buffer[1 << 20];
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file()) {
            continue;
        }
        const int file = ::open(entry.path().c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        while (file >= 0 && ::read(file, buffer, sizeof buffer) > 0) {
        }
        if (file >= 0) {
            ::close(file);
        }
    }
}

struct Found {
    long groups = 0;
    long extraFiles = 0;
};

// Groups of files, and their files beyond the first; folder groups are left out, as the peers
// make none.
Found runFinder(const std::string& root) {
    sweepkit::DuplicateFinder finder(sweepkit::DuplicateFinderSettings(false, false, false, {}));
    std::promise<std::shared_ptr<sweepkit::DuplicateFinderResult>> done;
    finder.find(
        velmor::URL::fileURL(root), [](auto) {}, [&](auto result) { done.set_value(std::move(result)); });
    const auto result = done.get_future().get();
    Found found;
    for (const auto& [id, group] : result->duplicatesByHash) {
        if (!group.items.empty() && S_ISREG(group.items.begin()->metadata.st_mode)) {
            ++found.groups;
            found.extraFiles += static_cast<long>(group.items.size()) - 1;
        }
    }
    return found;
}

// jdupes' summary line: "N duplicate files (in M sets), occupying ...".
Found runJdupes(const std::string& root) {
    Found found;
    FILE* output = ::popen(("jdupes -r -q -m " + root).c_str(), "r");
    char line[512];
    while (output != nullptr && std::fgets(line, sizeof line, output) != nullptr) {
        std::sscanf(line, "%ld duplicate files (in %ld sets)", &found.extraFiles, &found.groups);
    }
    if (output == nullptr || ::pclose(output) != 0) {
        std::fprintf(stderr, "failed: jdupes\n");
        std::exit(1);
    }
    return found;
}

// Measures one tree; gives the exit code.
int benchTree(const Tree& tree) {
    const std::string& root = tree.root;
    if (!isMade(tree)) {
        std::fprintf(stderr, "the tree %s is not made under %s: run the benchmark without --tree\n", tree.name,
                     root.c_str());
        return 2;
    }
    std::printf("== tree %s\n", tree.name);
    warmCache(root);

    double jdupesSeconds = 0;
    double rmlintSeconds = 0;
    long jdupesPeak = 0;
    Found jdupesFound;
    // The peers run first: a spawned child starts from the spawner's peak memory, so they must
    // start while this process is still small.
    bool peers = false;
    if (bench::onPath("jdupes")) {
        jdupesSeconds = bench::bestSeconds(runs, [&] { jdupesFound = runJdupes(root); });
        // The only child before it: the warm-up runs in this process.
        jdupesPeak = bench::peakKilobytes(RUSAGE_CHILDREN);
        std::printf("jdupes: %.3f s, peak %.1f MiB, %ld groups, %ld files beyond the first\n", jdupesSeconds,
                    static_cast<double>(jdupesPeak) / 1024, jdupesFound.groups, jdupesFound.extraFiles);
        peers = true;
    } else {
        std::printf("skipping jdupes: not installed (scripts/bench.sh installs it)\n");
    }
    if (bench::onPath("rmlint")) {
        const bench::PeerOutput output;
        rmlintSeconds = bench::bestSeconds(runs, bench::shellCommand(bench::rmlintCommand(root, output)));
        std::printf("rmlint: %.3f s\n", rmlintSeconds);
        peers = true;
    } else {
        std::printf("skipping rmlint: not installed (scripts/bench.sh installs it)\n");
    }
    if (peers) {
        std::printf("peak memory of the largest peer: %.1f MiB\n",
                    static_cast<double>(bench::peakKilobytes(RUSAGE_CHILDREN)) / 1024);
    }
    // The peak after the first run: each later run happens on another pool thread, whose malloc
    // arena keeps the memory that an earlier run freed in its own, and the process's peak adds up.
    Found ours;
    long finderPeak = 0;
    const double finder = bench::bestSeconds(runs, [&] {
        ours = runFinder(root);
        if (finderPeak == 0) {
            finderPeak = bench::peakKilobytes(RUSAGE_SELF);
        }
    });
    std::printf("duplicate finder: %.3f s, peak %.1f MiB, %ld groups, %ld files beyond the first\n", finder,
                static_cast<double>(finderPeak) / 1024, ours.groups, ours.extraFiles);

    if (jdupesSeconds > 0) {
        std::printf("ratio finder / jdupes: %.2f (target 1.0, limit 1.25)\n", finder / jdupesSeconds);
        std::printf("peak memory finder / jdupes: %.2f (limit 3)\n",
                    static_cast<double>(finderPeak) / static_cast<double>(jdupesPeak));
    }
    if (rmlintSeconds > 0) {
        std::printf("ratio finder / rmlint: %.2f\n", finder / rmlintSeconds);
    }
    if (jdupesSeconds > 0 &&
        (jdupesFound.groups != ours.groups || jdupesFound.extraFiles != ours.extraFiles)) {
        std::printf("MISMATCH: the finder and jdupes disagree on the duplicates\n");
        return 1;
    }
    return 0;
}

// Runs this program again with `mode` ("--make" or "--tree") for one tree and gives its exit code.
int runInChild(const char* mode, const Tree& tree) {
    std::fflush(stdout);
    const char* argv[] = {"duplicates_bench", mode, tree.name, nullptr};
    pid_t child = 0;
    int status = 0;
    if (::posix_spawn(&child, "/proc/self/exe", nullptr, nullptr, const_cast<char**>(argv), environ) != 0 ||
        ::waitpid(child, &status, 0) != child) {
        std::fprintf(stderr, "failed: the run for the tree %s\n", tree.name);
        return 1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

} // namespace

// With "--make NAME" makes that tree when it is not made yet, with "--tree NAME" measures that tree
// (made before), else makes and measures each tree in turn, each step in a process of its own.
int main(int argc, char** argv) {
    if (argc == 3 && (std::strcmp(argv[1], "--make") == 0 || std::strcmp(argv[1], "--tree") == 0)) {
        for (const Tree& tree : trees) {
            if (tree.name == std::string(argv[2])) {
                if (std::strcmp(argv[1], "--make") == 0) {
                    makeTree(tree);
                    return 0;
                }
                return benchTree(tree);
            }
        }
        std::fprintf(stderr, "no tree named %s\n", argv[2]);
        return 2;
    }
    int status = 0;
    for (const Tree& tree : trees) {
        const int made = runInChild("--make", tree);
        status = std::max(status, made != 0 ? made : runInChild("--tree", tree));
    }
    return status;
}
