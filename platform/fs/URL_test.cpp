#include "platform/fs/URL.hpp"

#include <gtest/gtest.h>

#include <unordered_set>

namespace velmor {

TEST(URL, PathComponents) {
    struct Case {
        const char* path;
        const char* normalizedPath;
        const char* last;
        const char* parent;
    };
    const Case cases[] = {
        {"/a/b/c.txt", "/a/b/c.txt", "c.txt", "/a/b/"},
        {"/a/b/", "/a/b", "b", "/a/"},
        {"/a", "/a", "a", "/"},
        {"/", "/", "/", "/"},
    };
    for (const auto& c : cases) {
        URL url = URL::fileURL(c.path);
        EXPECT_EQ(url.path(), c.normalizedPath) << c.path;
        EXPECT_EQ(url.lastPathComponent(), c.last) << c.path;
        EXPECT_EQ(url.deletingLastPathComponent().rawPath(), c.parent) << c.path;
    }
    EXPECT_EQ(URL::fileURL("/a/b/").appendingPathComponent("c").path(), "/a/b/c");
    EXPECT_EQ(URL::fileURL("/a/b").appendingPathComponent("c").path(), "/a/b/c");
}

TEST(URL, RelativePathsAreTakenAgainstTheCurrentDirectory) {
    URL url = URL::fileURL("some/file");
    ASSERT_FALSE(url.path().empty());
    EXPECT_EQ(url.path().front(), '/');
    EXPECT_EQ(url.lastPathComponent(), "file");
}

TEST(URL, SettingAPathGivesWhatAFreshURLGives) {
    URL url = URL::fileURL("/a/rather/long/path/to/start/from/so/that/storage/is/kept");
    for (const char* path : {"/short", "/a/b/", "/", "relative/file", "", "/back/to/absolute"}) {
        url.setFileURL(path);
        URL fresh = URL::fileURL(path);
        EXPECT_EQ(url, fresh) << path;
        EXPECT_EQ(url.isRelativeToWorkingDirectory(), fresh.isRelativeToWorkingDirectory()) << path;
        EXPECT_EQ(url.hasDirectoryPath(), fresh.hasDirectoryPath()) << path;
    }
}

TEST(URL, AbsoluteStringPercentEncodesAndRoundTrips) {
    const std::string odd = std::string("/tmp/caf\xE9 x%/\xFF\xFEname");
    URL url = URL::fileURL(odd);
    EXPECT_EQ(url.absoluteString(), "file:///tmp/caf%E9%20x%25/%FF%FEname");
    EXPECT_EQ(URL::fileURL("/a-b_c.d~e(1)+@:").absoluteString(), "file:///a-b_c.d~e(1)+@:");
    EXPECT_EQ(URL::fromAbsoluteString(url.absoluteString()), url);
    EXPECT_EQ(URL::fromAbsoluteString(url.absoluteString()).path(), odd);
    EXPECT_TRUE(URL::fromAbsoluteString("http://host/x").isEmpty());
}

TEST(URL, EqualityAndHashFollowThePathText) {
    std::unordered_set<URL> set{URL::fileURL("/a/b"), URL::fileURL("/a/b")};
    EXPECT_EQ(set.size(), 1u);
    EXPECT_NE(URL::fileURL("/a/b"), URL::fileURL("/a/b/"));
    EXPECT_EQ(URL::fileURL("/a/b"), URL::fileURL("/a/").appendingPathComponent("b"));
}

TEST(URL, APathIsWithinItsAncestorsByWholeComponents) {
    EXPECT_TRUE(isPathWithin("/r/ab/x", "/r/ab"));
    EXPECT_TRUE(isPathWithin("/r/ab", "/r/ab"));
    EXPECT_TRUE(isPathWithin("/r", "/"));
    EXPECT_FALSE(isPathWithin("/r/abc/x", "/r/ab"));
    EXPECT_FALSE(isPathWithin("/r", "/r/ab"));
}

TEST(URL, AListDescribesItsURLsInOrder) {
    EXPECT_EQ(describe({}), "[]");
    EXPECT_EQ(describe({URL::fileURL("/a b/"), URL::fileURL("/c")}), "[file:///a%20b/, file:///c]");
}

} // namespace velmor
