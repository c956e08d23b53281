// Searches a 512 MiB text of words, held in memory, for 100 lower-case keywords of 12 letters that
// occur only in its last line, with `PatternSearch::foundAllPattern`, and in the same run with
// `grep -F -i -c -f KEYWORDS FILE` (for lower-case keywords the same matches; warm cache, best of
// several runs). Then builds a search of 1,000 keywords of 64 lower-case letters and prints its
// build time and peak memory. The text is made under /tmp and removed at the end.
#include "bench/BestOf.hpp"
#include "bench/PeakMemory.hpp"
#include "bench/ShellCommand.hpp"
#include "bench/TemporaryFolder.hpp"
#include "foundation/core/search/PatternSearch.hpp"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

namespace {

constexpr std::size_t textSize = std::size_t{512} << 20;
constexpr int runs = 5;

// A fixed-seed generator, so every run searches the same text.
class Random {
public:
    std::uint32_t next(std::uint32_t bound) {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return static_cast<std::uint32_t>(state_ % bound);
    }
    std::string word(std::size_t length) {
        std::string word(length, 'a');
        for (char& c : word) {
            c = static_cast<char>('a' + next(26));
        }
        return word;
    }

private:
    std::uint64_t state_ = 0x9E3779B97F4A7C15ull;
};

// A folder under /tmp holding the text and the keyword list, removed with the object.
class Fixture {
public:
    std::string text() const { return folder_.file("text"); }
    std::string keywords() const { return folder_.file("keywords"); }

private:
    bench::TemporaryFolder folder_{"velmor-pattern-search"};
};

// Lines of words of 2 to 10 letters, so no keyword of 12 letters can occur in them; the last line
// holds the keywords. Returns the whole text.
std::string writeText(const std::string& path, const std::set<std::string>& keywords, Random& random) {
    std::string lastLine;
    for (const auto& keyword : keywords) {
        lastLine += (lastLine.empty() ? "" : " ") + keyword;
    }
    lastLine += "\n";
    std::string text;
    text.reserve(textSize);
    std::size_t lineStart = 0;
    while (text.size() + lastLine.size() + 12 < textSize) {
        text += random.word(2 + random.next(9));
        if (text.size() - lineStart > 72) {
            text += '\n';
            lineStart = text.size();
        } else {
            text += ' ';
        }
    }
    text.append(textSize - lastLine.size() - text.size(), '\n');
    text += lastLine;
    std::ofstream(path, std::ios::binary).write(text.data(), static_cast<std::streamsize>(text.size()));
    return text;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main() {
    Random random;

    // The build first, while the process is small, so its peak memory shows on its own.
    std::set<std::string> longKeywords;
    while (longKeywords.size() < 1000) {
        longKeywords.insert(random.word(64));
    }
    const long peakBeforeBuild = bench::peakKilobytes(RUSAGE_SELF);
    const auto buildStart = std::chrono::steady_clock::now();
    bool longFound = false;
    {
        const velmor::PatternSearch search(longKeywords);
        const double buildSeconds = secondsSince(buildStart);
        longFound = search.foundAllPattern(*longKeywords.begin());
        std::printf("build of 1,000 keywords of 64 lower-case letters: %.1f ms, peak memory %ld KB above the "
                    "%ld KB before\n",
                    buildSeconds * 1000, bench::peakKilobytes(RUSAGE_SELF) - peakBeforeBuild,
                    peakBeforeBuild);
    }
    if (longFound) {
        std::fprintf(stderr, "one of 1,000 long keywords was taken for all of them\n");
        return 1;
    }

    Fixture fixture;
    std::set<std::string> keywords;
    while (keywords.size() < 100) {
        keywords.insert(random.word(12));
    }
    {
        std::ofstream list(fixture.keywords());
        for (const auto& keyword : keywords) {
            list << keyword << '\n';
        }
    }
    const std::string text = writeText(fixture.text(), keywords, random);
    const velmor::PatternSearch search(keywords);

    bool found = false;
    auto ours = [&] { found = search.foundAllPattern(text); };
    auto grep = bench::shellCommand("LC_ALL=C grep -F -i -c -f '" + fixture.keywords() + "' '" +
                                    fixture.text() + "' >/dev/null");
    // Warms the cache, and checks both find what they should.
    ours();
    grep();
    const bool grepCountsOneLine = std::system(("test \"$(LC_ALL=C grep -F -i -c -f '" + fixture.keywords() +
                                                "' '" + fixture.text() + "')\" = 1")
                                                   .c_str()) == 0;
    if (!found || !grepCountsOneLine) {
        std::fprintf(stderr, "the keywords were not found as they should be (ours %d, grep %d)\n", found,
                     grepCountsOneLine);
        return 1;
    }

    const double oursSeconds = bench::bestSeconds(runs, ours);
    const double grepSeconds = bench::bestSeconds(runs, grep);
    const double mebibytes = static_cast<double>(text.size()) / (1 << 20);
    std::printf("text: %.0f MiB of words, 100 keywords of 12 letters in its last line only\n", mebibytes);
    std::printf("grep -F -i -c:   %.3f s (best of %d), %.0f MiB/s\n", grepSeconds, runs,
                mebibytes / grepSeconds);
    std::printf("foundAllPattern: %.3f s (best of %d), %.0f MiB/s\n", oursSeconds, runs,
                mebibytes / oursSeconds);
    std::printf("ratio foundAllPattern / grep: %.2f\n", oursSeconds / grepSeconds);
    return 0;
}
