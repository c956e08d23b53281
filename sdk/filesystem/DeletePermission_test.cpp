#include "sdk/filesystem/DeletePermission.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace sweepkit {

TEST(DeletePermission, DirectoryWriteTest) {
    struct Case {
        const char* name;
        std::uint16_t mode;
        std::uint32_t user;
        std::vector<std::uint32_t> groups;
        bool expected;
    };
    // The directory is owned by user 100, group 50.
    const Case cases[] = {
        {"root always", 0555, 0, {}, true},
        {"owner with owner write", 0755, 100, {}, true},
        {"owner without any write", 0555, 100, {50}, false},
        {"owner falls through to group write", 0575, 100, {50}, true},
        {"owner not in the group", 0575, 100, {51}, false},
        {"other with world write", 0557, 200, {}, true},
        {"other with group write and group", 0775, 200, {7, 50}, true},
        {"other with group write, wrong group", 0775, 200, {7}, false},
        {"other with nothing", 0755, 200, {50}, false},
        {"owner write does not help others", 0700, 200, {50}, false},
    };
    for (const auto& c : cases) {
        velmor::Stat directory;
        directory.st_mode = S_IFDIR | c.mode;
        directory.st_uid = 100;
        directory.st_gid = 50;
        EXPECT_EQ(canWriteDirectory(directory, c.user, c.groups), c.expected) << c.name;
    }
}

TEST(DeletePermission, StickyParentsNeedOwnershipOrRoot) {
    EXPECT_TRUE(mayDeleteEntry(true, false, 200, 100));
    EXPECT_FALSE(mayDeleteEntry(false, false, 200, 200));
    EXPECT_TRUE(mayDeleteEntry(true, true, 200, 200));
    EXPECT_FALSE(mayDeleteEntry(true, true, 200, 100));
    EXPECT_TRUE(mayDeleteEntry(true, true, 0, 100));
    EXPECT_FALSE(mayDeleteEntry(false, true, 0, 0));
}

} // namespace sweepkit
