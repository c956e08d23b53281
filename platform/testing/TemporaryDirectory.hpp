#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <sys/stat.h>

namespace velmor::testing {

// Whether there is an entry at `path`, a dangling link included.
inline bool exists(const std::string& path) {
    struct ::stat record {};
    return ::lstat(path.c_str(), &record) == 0;
}

// A fresh folder under /tmp for one test's fixture, removed with everything in it afterwards.
class TemporaryDirectory {
public:
    TemporaryDirectory() {
        std::string pattern = "/tmp/velmor-test-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot create a temporary folder");
        }
        path_ = pattern;
    }
    ~TemporaryDirectory() {
        std::error_code ignored;
        // Restore search and write rights a test may have taken away, so removal can proceed.
        for (auto it = std::filesystem::recursive_directory_iterator(
                 path_, std::filesystem::directory_options::skip_permission_denied, ignored);
             it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
            if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
                ::chmod(it->path().c_str(), 0700);
            }
        }
        std::filesystem::remove_all(path_, ignored);
    }
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

    // Creates the folders leading to `relative` and a file there with `contents`; returns its path.
    std::string writeFile(const std::string& relative, const std::string& contents = "") const {
        std::string full = *this / relative;
        std::filesystem::create_directories(std::filesystem::path(full).parent_path());
        std::ofstream(full, std::ios::binary) << contents;
        return full;
    }
    std::string makeDirectory(const std::string& relative) const {
        std::string full = *this / relative;
        std::filesystem::create_directories(full);
        return full;
    }

private:
    std::string path_;
};

} // namespace velmor::testing
