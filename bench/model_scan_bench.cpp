// A whole category scan of a synthetic home of about 500,000 files (large files, caches, logs,
// 40,000 old downloads, a trash folder), from `scan` to `scanned`, against the same five searches
// done with `find` in the same run (warm cache, best of several runs). Each definition alone is
// also timed against a bare tree-engine walk of its folder, the cost of the criteria showing as the
// difference.
#include "app/model/cleaner/Cleaner.hpp"
#include "bench/BestOf.hpp"
#include "bench/ShellCommand.hpp"
#include "foundation/core/log/Logger.hpp"
#include "platform/concurrency/RunLoop.hpp"
#include "sdk/finder/criteria/StatCriterionFactory.hpp"
#include "sdk/finder/tree/TreeFileFinderAnalyzer.hpp"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int runs = 5;
constexpr long long largeBytes = 50LL * 1024 * 1024;

// The scan's log lines would only slow it down and fill the output.
class SilentLogger : public velmor::Logger {
public:
    void debug(velmor::LogMessage) const override {}
    void info(velmor::LogMessage) const override {}
    void default_(velmor::LogMessage) const override {}
    void error(velmor::LogMessage) const override {}
};

struct Definition {
    const char* id;
    std::string folder;
    std::string conditions;
    std::string find; // the closest `find` search
};

void makeFolder(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (error) {
        std::fprintf(stderr, "cannot make %s\n", path.c_str());
        std::exit(1);
    }
}

// `count` files in sub-folders of 100, each of `size` bytes as a hole, every time `daysAgo` old
// (where not 0).
void makeFiles(const std::string& folder, int count, const char* extension, off_t size, int daysAgo) {
    const std::time_t at = std::time(nullptr) - std::time_t{daysAgo} * 86400;
    const struct ::timespec times[2] = {{at, 0}, {at, 0}};
    for (int i = 0; i < count; ++i) {
        std::string sub = folder + "/f" + std::to_string(i / 100);
        if (i % 100 == 0) {
            makeFolder(sub);
        }
        std::string path = sub + "/file" + std::to_string(i) + extension;
        int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        if (fd < 0 || (size > 0 && ::ftruncate(fd, size) != 0) ||
            (daysAgo > 0 && ::futimens(fd, times) != 0)) {
            std::perror(path.c_str());
            std::exit(1);
        }
        ::close(fd);
    }
}

std::string definitionEntry(const Definition& definition) {
    return std::string("<dict><key>id</key><string>") + definition.id +
           "</string><key>type</key><string>custom</string><key>paths</key><array><string>" +
           definition.folder + "</string></array><key>deleteEmptyFolders</key><false/><key>conditions</key>" +
           definition.conditions +
           "<key>engines</key><array><dict><key>fileTraversal</key><dict/></dict></array></dict>";
}

void writeBundle(const std::string& bundle, const std::vector<Definition>& definitions) {
    makeFolder(bundle + "/Resources");
    std::string list;
    for (const auto& definition : definitions) {
        list += definitionEntry(definition);
    }
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
                       "<key>categories</key><array>" +
                       list + "</array></dict></plist>";
    FILE* file = std::fopen((bundle + "/Resources/parameters-categories.plist").c_str(), "w");
    if (file == nullptr || std::fwrite(text.data(), 1, text.size(), file) != text.size()) {
        std::fprintf(stderr, "cannot write the definitions\n");
        std::exit(1);
    }
    std::fclose(file);
}

// Seconds of the best of `runs` scans to `scanned` by a cleaner loading `bundle`.
double bestScanSeconds(velmor::ScopedMainRunLoop& main, const std::string& bundle) {
    auto cleaner =
        marrowdale::Cleaner::make([](const std::string&) { return std::make_shared<SilentLogger>(); },
                                  velmor::Bundle(velmor::URL::fileURL(bundle)));
    main.loop().drain();
    return bench::bestSeconds(runs, [&] {
        cleaner->scan();
        if (!main.runUntil([&] { return cleaner->state().kind == marrowdale::Cleaner::State::Kind::scanned; },
                           600)) {
            std::fprintf(stderr, "the scan did not finish\n");
            std::exit(1);
        }
    });
}

// User and system time of this process (`RUSAGE_SELF`) or of its waited-for children.
double cpuSeconds(int who) {
    struct ::rusage usage {};
    ::getrusage(who, &usage);
    auto seconds = [](const struct ::timeval& time) { return time.tv_sec + time.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double bestWalkSeconds(const std::string& folder) {
    const sweepkit::TreeFileFinderAnalyzer analyzer(nullptr);
    // Nothing is that large, so the walk is all there is.
    const auto nothing = sweepkit::StatCriterionFactory::sizeGreaterThan(std::int64_t{1} << 62);
    return bench::bestSeconds(runs, [&] {
        analyzer.analyze(
            {velmor::URL::fileURL(folder)}, *nothing, [](const sweepkit::FileSystemItem&) {}, [] {});
    });
}

} // namespace

int main() {
    std::string root = "/tmp/velmor-model-scan-XXXXXX";
    if (::mkdtemp(root.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string home = root + "/home";
    makeFiles(home + "/Media", 200000, ".dat", 0, 0);
    makeFiles(home + "/Media/big", 200, ".mkv", largeBytes + 1, 0);
    makeFiles(home + "/.cache", 150000, ".bin", 0, 0);
    makeFiles(home + "/Logs", 60000, ".log", 0, 0);
    makeFiles(home + "/Downloads", 40000, ".zip", 0, 90);
    makeFiles(home + "/.Trash", 50000, ".old", 0, 0);

    const std::string deletable = "<dict><key>fileIsDeletable</key><dict/></dict>";
    const std::vector<Definition> definitions = {
        {"bigFiles", home,
         "<dict><key>fileSizeGreater</key><dict><key>than</key><integer>" + std::to_string(largeBytes) +
             "</integer></dict></dict>",
         "find '" + home + "' -type f -size +" + std::to_string(largeBytes / 1024) + "k"},
        {"caches", home + "/.cache", deletable, "find '" + home + "/.cache' -type f -writable"},
        {"logs", home + "/Logs",
         "<dict><key>fileCaseInsensitiveExtension</key><dict><key>is</key><string>log</string></dict></dict>",
         "find '" + home + "/Logs' -type f -iname '*.log'"},
        {"downloads", home + "/Downloads",
         "<dict><key>latestDateNotInLast</key><dict><key>seconds</key><integer>2592000</integer></dict></"
         "dict>",
         "find '" + home + "/Downloads' -type f -atime +30 -mtime +30 -ctime +30"},
        {"trash", home + "/.Trash", deletable, "find '" + home + "/.Trash' -type f -writable"},
    };

    velmor::ScopedMainRunLoop main;
    const std::string wholeBundle = root + "/bundle-all";
    writeBundle(wholeBundle, definitions);
    std::string findAll;
    for (const auto& definition : definitions) {
        findAll += definition.find + " >/dev/null; ";
    }
    auto find = bench::shellCommand(findAll);
    find(); // warms the cache
    const double findCPUBefore = cpuSeconds(RUSAGE_CHILDREN);
    const double findSeconds = bench::bestSeconds(runs, find);
    const double findCPU = (cpuSeconds(RUSAGE_CHILDREN) - findCPUBefore) / runs;
    const double scanCPUBefore = cpuSeconds(RUSAGE_SELF);
    const double scanSeconds = bestScanSeconds(main, wholeBundle);
    const double scanCPU = (cpuSeconds(RUSAGE_SELF) - scanCPUBefore) / runs;
    std::printf("five find searches: %.3f s, model scan: %.3f s (best of %d)\n", findSeconds, scanSeconds,
                runs);
    std::printf("ratio model scan / find: %.2f\n", scanSeconds / findSeconds);
    // Processor time waits for no other process, so it stays comparable on a busy machine.
    std::printf("processor time per run: five find searches %.3f s, model scan %.3f s\n", findCPU, scanCPU);
    std::printf("ratio model scan / find processor time: %.2f\n", scanCPU / findCPU);

    for (const auto& definition : definitions) {
        const std::string bundle = root + "/bundle-" + definition.id;
        writeBundle(bundle, {definition});
        const double walk = bestWalkSeconds(definition.folder);
        const double scan = bestScanSeconds(main, bundle);
        std::printf("ratio %s scan / bare walk: %.2f (%.3f s / %.3f s)\n", definition.id, scan / walk, scan,
                    walk);
    }

    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
    return 0;
}
