#include "platform/fs/StandardizedPath.hpp"

#include "platform/testing/ScopedEnvironment.hpp"

#include <gtest/gtest.h>

namespace velmor {
namespace {

TEST(StandardizedPath, CleansComponentsExpandsTildeAndResolvesDotDotOfAbsolutePaths) {
    testing::ScopedEnvironment environment(testing::ScopedEnvironment::Settings{{"HOME", "/home/ann"}});
    const struct {
        const char* input;
        const char* expected;
    } cases[] = {
        {"/a/./b//c/", "/a/b/c"},
        {"/a/b/../c", "/a/c"},
        {"/../..//x", "/x"},
        {"/", "/"},
        {"//", "/"},
        {"~", "/home/ann"},
        {"~/Images/./x.img", "/home/ann/Images/x.img"},
        {"~ann/x", "~ann/x"},
        {"a/../b/", "a/../b"},
        {"./a", "a"},
        {"", ""},
        // "/private" goes only when the shorter path exists.
        {"/private/tmp", "/tmp"},
        {"/private/no-such-folder-here", "/private/no-such-folder-here"},
    };
    for (const auto& item : cases) {
        EXPECT_EQ(standardizingPath(item.input), item.expected) << item.input;
    }
}

} // namespace
} // namespace velmor
