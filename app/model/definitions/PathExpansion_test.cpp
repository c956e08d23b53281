#include "app/model/definitions/PathExpansion.hpp"

#include "platform/concurrency/RunLoop.hpp"
#include "platform/testing/ScopedEnvironment.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace marrowdale {
namespace {

std::string passwordDatabaseHome() {
    struct ::passwd* entry = ::getpwuid(::getuid());
    return entry ? entry->pw_dir : "";
}

TEST(PathExpansion, TildeIsTheRealHomeWhereverItStands) {
    const std::string home = passwordDatabaseHome();
    ASSERT_FALSE(home.empty());
    // The environment must not steer where the cleaner looks.
    velmor::testing::ScopedEnvironment environmentHome(
        velmor::testing::ScopedEnvironment::Settings{{"HOME", "/nonexistent-home-from-the-environment"}});

    struct Case {
        const char* path;
        std::string expected;
    };
    const Case cases[] = {
        {"~/Downloads", home + "/Downloads"}, {"~", home},
        {"/srv/~/x", "/srv/" + home + "/x"},  {"/var/tmp", "/var/tmp"},
        {"~/a~b", home + "/a" + home + "b"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(expandingTildeWithRealHome(c.path).path(), velmor::URL::fileURL(c.expected).path())
            << c.path;
    }
    EXPECT_EQ(realHomeDirectory()->path(), velmor::URL::fileURL(home).path());
}

TEST(PathExpansion, FindURLsKeepThePathOrder) {
    velmor::ScopedMainRunLoop main;
    FileFinderCategory category;
    category.paths = {"/b", "~/a", "/b"};
    auto urls = findURLs(category);
    ASSERT_EQ(urls.size(), 3u);
    EXPECT_EQ(urls[0].path(), "/b");
    EXPECT_EQ(urls[1], expandingTildeWithRealHome("~/a"));
    EXPECT_EQ(urls[2].path(), "/b");
    category.paths.clear();
    EXPECT_TRUE(findURLs(category).empty());
}

TEST(PathExpansion, SearchPathsMustBeAbsolute) {
    velmor::ScopedMainRunLoop main;
    for (const char* path : {"", "Documents", "./x", "../x"}) {
        FileFinderCategory category;
        category.paths = {"/b", path};
        try {
            findURLs(category);
            ADD_FAILURE() << "\"" << path << "\" was taken against the working directory";
        } catch (const velmor::ErrorException& error) {
            EXPECT_TRUE(isSearchPathError(error.error())) << path;
            EXPECT_EQ(error.error().description(),
                      std::string("The search path “") + path + "” is not absolute, so it is not searched.");
        }
    }
}

} // namespace
} // namespace marrowdale
