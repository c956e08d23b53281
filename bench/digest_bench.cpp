// Digests the same files with HashGroupper and with md5sum in one run (warm cache, best of several
// runs) and prints the ratios: whole-file digests of large files, and digests of many small ones,
// the two loads of a duplicate search. HMAC-MD5 costs the same as MD5 but for two extra blocks.
#include "bench/BestOf.hpp"
#include "bench/ShellCommand.hpp"
#include "sdk/duplicates/pipeline/HashGroupper.hpp"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int runs = 5;
constexpr int largeFiles = 32;
constexpr std::size_t largeSize = 8 << 20;
constexpr int smallFiles = 5000;
constexpr std::size_t smallSize = 1000;

// Bytes that no two files share, from a small fixed generator.
std::string contents(std::size_t size, std::uint64_t seed) {
    std::string bytes(size, '\0');
    std::uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
    for (auto& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        byte = static_cast<char>(state);
    }
    return bytes;
}

struct Fixture {
    Fixture() {
        std::string pattern = "/tmp/velmor-digest-bench-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot create a temporary folder");
        }
        root = pattern;
        std::filesystem::create_directories(root + "/large");
        std::filesystem::create_directories(root + "/small");
        for (int index = 0; index < largeFiles; ++index) {
            large.push_back(write(root + "/large/" + std::to_string(index), largeSize, index));
        }
        for (int index = 0; index < smallFiles; ++index) {
            small.push_back(write(root + "/small/" + std::to_string(index), smallSize, largeFiles + index));
        }
    }
    ~Fixture() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }

    static sweepkit::Event write(const std::string& path, std::size_t size, std::uint64_t seed) {
        std::ofstream(path, std::ios::binary) << contents(size, seed);
        return sweepkit::Event::file(path, *velmor::Stat::lstatPath(path), true);
    }

    std::string root;
    std::vector<sweepkit::Event> large;
    std::vector<sweepkit::Event> small;
};

} // namespace

int main() {
    const Fixture fixture;
    const sweepkit::pipeline::HashGroupper whole(sweepkit::pipeline::HashGroupper::wholeFile, nullptr);
    auto ours = [&](const std::vector<sweepkit::Event>& events) {
        return [&] {
            for (const auto& event : events) {
                whole.identifier(event);
            }
        };
    };
    auto md5sum = [&](const std::string& folder) {
        return bench::shellCommand("find '" + fixture.root + "/" + folder +
                                   "' -type f -print0 | xargs -0 md5sum >/dev/null");
    };

    // Warm the cache.
    md5sum("large")();
    md5sum("small")();
    const double oursLarge = bench::bestSeconds(runs, ours(fixture.large));
    const double peerLarge = bench::bestSeconds(runs, md5sum("large"));
    const double oursSmall = bench::bestSeconds(runs, ours(fixture.small));
    const double peerSmall = bench::bestSeconds(runs, md5sum("small"));

    const double megabytes = largeFiles * static_cast<double>(largeSize) / (1 << 20);
    std::printf("large: %d files of %zu MiB; small: %d files of %zu bytes (best of %d)\n", largeFiles,
                largeSize >> 20, smallFiles, smallSize, runs);
    std::printf("HashGroupper, large: %.3f s (%.0f MiB/s)\n", oursLarge, megabytes / oursLarge);
    std::printf("md5sum, large:       %.3f s (%.0f MiB/s)\n", peerLarge, megabytes / peerLarge);
    std::printf("HashGroupper, small: %.3f s\n", oursSmall);
    std::printf("md5sum, small:       %.3f s\n", peerSmall);
    std::printf("ratio HashGroupper / md5sum, large files: %.2f\n", oursLarge / peerLarge);
    std::printf("ratio HashGroupper / md5sum, small files: %.2f\n", oursSmall / peerSmall);
    return 0;
}
