#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velmor {

// A file URL. The path is kept as the bytes it was made from: a name that is not valid UTF-8 passes
// through unchanged. Two URLs are equal when they were made from the same absolute path text; a
// trailing slash counts, as it does for the platform's file URLs.
class URL {
public:
    URL() = default;

    // A file URL for `path`. A relative path is taken against the current directory. The file
    // system is not consulted, so no trailing slash is added for directories.
    static URL fileURL(std::string_view path);
    // Makes this the URL `fileURL(path)` gives, keeping its storage: a loop that sets one URL
    // entry after entry allocates only when a path outgrows the longest before it.
    void setFileURL(std::string_view path);

    // The path without a trailing slash ("/" stays "/").
    std::string path() const;
    // The path as given, trailing slash included.
    const std::string& rawPath() const { return path_; }
    std::string lastPathComponent() const;
    URL deletingLastPathComponent() const;
    URL appendingPathComponent(std::string_view component) const;
    bool hasDirectoryPath() const { return path_.size() > 1 && path_.back() == '/'; }
    bool isEmpty() const { return path_.empty(); }
    // Whether it was made from a relative path (the empty path included), so that it stands for
    // wherever the working directory happened to be. Kept by the URLs derived from it.
    bool isRelativeToWorkingDirectory() const { return relativeToWorkingDirectory_; }

    // "file://" followed by the percent-encoded path.
    std::string absoluteString() const;
    // The inverse of `absoluteString`; an empty URL when `text` is no file URL.
    static URL fromAbsoluteString(std::string_view text);

    friend bool operator==(const URL& a, const URL& b) { return a.path_ == b.path_; }

private:
    explicit URL(std::string path, bool relative = false)
        : path_(std::move(path)), relativeToWorkingDirectory_(relative) {}
    std::string path_;
    bool relativeToWorkingDirectory_ = false;
};

// Whether `path` is `ancestor` or lies below it, counting whole path components only: /r/ab holds
// /r/ab/x but not /r/abc/x. Both are paths without a trailing slash, as `URL::path` gives them.
bool isPathWithin(std::string_view path, std::string_view ancestor);

// A list of URLs as log lines print it: "[file:///a, file:///b/]".
std::string describe(const std::vector<URL>& urls);

} // namespace velmor

template <> struct std::hash<velmor::URL> {
    std::size_t operator()(const velmor::URL& url) const noexcept {
        return std::hash<std::string>{}(url.rawPath());
    }
};
