#include "foundation/core/url/URLHelpers.hpp"

#include "platform/testing/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

namespace velmor {
namespace {

using velmor::testing::TemporaryDirectory;

TEST(URLHelpers, ExistsFollowsLinksAndIsFalseForWhatIsGone) {
    TemporaryDirectory dir;
    const std::string file = dir.writeFile("file", "x");
    ASSERT_EQ(::symlink("file", (dir / "link").c_str()), 0);
    ASSERT_EQ(::symlink("missing", (dir / "dangling").c_str()), 0);

    EXPECT_TRUE(exists(URL::fileURL(file)));
    EXPECT_TRUE(exists(URL::fileURL(dir / "link")));
    EXPECT_FALSE(exists(URL::fileURL(dir / "dangling")));
    ::unlink(file.c_str());
    EXPECT_FALSE(exists(URL::fileURL(file)));
    EXPECT_FALSE(exists(URL::fromAbsoluteString("https://example.com/file")));
}

TEST(URLHelpers, IsVolumeOnlyForMountPoints) {
    TemporaryDirectory dir;
    EXPECT_TRUE(isVolume(URL::fileURL("/")));
    EXPECT_TRUE(isVolume(URL::fileURL("/proc/")));
    EXPECT_FALSE(isVolume(URL::fileURL(dir.path())));
    EXPECT_FALSE(isVolume(URL()));
}

TEST(URLHelpers, UserFacingUrlIsTheOutermostPackage) {
    TemporaryDirectory dir;
    dir.writeFile("Outer.app/Contents/Frameworks/Inner.framework/Resources/file", "x");
    dir.writeFile("plain/folder/file", "x");
    dir.writeFile("Fake.app", "a file, not a package");
    struct Case {
        std::string url;
        std::string expected;
    };
    const Case cases[] = {
        {dir / "Outer.app/Contents/MacOS", dir / "Outer.app"},
        {dir / "Outer.app/Contents/Frameworks/Inner.framework/Resources/file", dir / "Outer.app"},
        {dir / "Outer.app", dir / "Outer.app"},
        {dir / "Outer.app/", dir / "Outer.app"},
        {dir / "plain/folder/file", dir / "plain/folder/file"},
        {dir / "plain//folder/", dir / "plain/folder"},
        {dir / "Fake.app", dir / "Fake.app"},
        {"/", "/"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(userFacingUrl(URL::fileURL(c.url)).path(), c.expected) << c.url;
    }
    EXPECT_EQ(userFacingUrl(URL()), URL());
}

} // namespace
} // namespace velmor
