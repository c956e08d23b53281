#pragma once

// The synthetic tree the benchmarks share: top folders of 10 sub-folders of 100 files each (200 top
// folders, 200,000 files, unless asked otherwise), under a fresh folder in /tmp that goes away with
// the object.
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace bench {

class SyntheticTree {
public:
    static constexpr int topFolders = 200;
    static constexpr int subFolders = 10;
    static constexpr int filesPerFolder = 100;
    static constexpr int files = topFolders * subFolders * filesPerFolder;
    static constexpr int folders = topFolders * (subFolders + 1) + 1;

    // Files are empty, except that every `largeEvery`-th one (none when 0) is given a length of
    // `largeSize` bytes as a hole, so large files cost no disk space.
    explicit SyntheticTree(int largeEvery = 0, off_t largeSize = 0)
        : SyntheticTree(topFolders, largeEvery, largeSize, 0) {}

    // A tree of `top` top folders (1,000 files each) whose files hold `fileSize` bytes of data.
    static SyntheticTree withTopFolders(int top, off_t fileSize) {
        return SyntheticTree(top, 0, 0, fileSize);
    }

    SyntheticTree(SyntheticTree&& other) noexcept : root_(std::move(other.root_)) { other.root_.clear(); }
    SyntheticTree(const SyntheticTree&) = delete;
    SyntheticTree& operator=(const SyntheticTree&) = delete;
    ~SyntheticTree() {
        if (!root_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(root_, ignored);
        }
    }

    const std::string& root() const { return root_; }

private:
    SyntheticTree(int top, int largeEvery, off_t largeSize, off_t fileSize) {
        root_ = "/tmp/velmor-bench-XXXXXX";
        if (::mkdtemp(root_.data()) == nullptr) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        int count = 0;
        const std::string data(static_cast<std::size_t>(fileSize), 'x');
        for (int folder = 0; folder < top; ++folder) {
            std::string topPath = root_ + "/d" + std::to_string(folder);
            ::mkdir(topPath.c_str(), 0755);
            for (int sub = 0; sub < subFolders; ++sub) {
                std::string subPath = topPath + "/s" + std::to_string(sub);
                ::mkdir(subPath.c_str(), 0755);
                for (int file = 0; file < filesPerFolder; ++file, ++count) {
                    std::string filePath = subPath + "/file-" + std::to_string(file) + ".dat";
                    int fd = ::open(filePath.c_str(), O_CREAT | O_WRONLY, 0644);
                    if (fd < 0) {
                        continue;
                    }
                    if (largeEvery > 0 && count % largeEvery == 0 && ::ftruncate(fd, largeSize) != 0) {
                        std::perror("ftruncate");
                    }
                    if (!data.empty() && ::write(fd, data.data(), data.size()) < 0) {
                        std::perror("write");
                    }
                    ::close(fd);
                }
            }
        }
    }

    std::string root_;
};

} // namespace bench
