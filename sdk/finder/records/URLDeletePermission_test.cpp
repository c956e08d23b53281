#include "sdk/finder/records/URLDeletePermission.hpp"

#include "platform/testing/PrivilegeDrop.hpp"
#include "platform/testing/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace sweepkit {
namespace {

using velmor::URL;
using velmor::testing::TemporaryDirectory;
using velmor::testing::unprivilegedUser;

TEST(URLDeletePermission, StickyTemporaryFolder) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to create files for two owners";
    }
    TemporaryDirectory tmp;
    ::chmod(tmp.path().c_str(), 0755);
    std::string sticky = tmp.makeDirectory("sticky");
    ASSERT_EQ(::chmod(sticky.c_str(), 01777), 0);
    std::string mine = tmp.writeFile("sticky/mine");
    std::string roots = tmp.writeFile("sticky/roots");
    ASSERT_EQ(::chown(mine.c_str(), unprivilegedUser, unprivilegedUser), 0);

    EXPECT_TRUE(hasDeletePermission(URL::fileURL(mine)));
    EXPECT_TRUE(hasDeletePermission(URL::fileURL(roots)));
    int status = velmor::testing::runAsUnprivilegedUser([&] {
        if (!hasDeletePermission(URL::fileURL(mine))) {
            return 1;
        }
        if (hasDeletePermission(URL::fileURL(roots))) {
            return 2;
        }
        return 0;
    });
    EXPECT_EQ(status, 0);
}

TEST(URLDeletePermission, UnwritableOrMissingParentsGiveNo) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to fork a child that drops to an unprivileged user";
    }
    TemporaryDirectory tmp;
    ::chmod(tmp.path().c_str(), 0755);
    std::string file = tmp.writeFile("closed/file");
    int status = velmor::testing::runAsUnprivilegedUser([&] {
        if (hasDeletePermission(URL::fileURL(file))) {
            return 1;
        }
        if (hasDeletePermission(URL::fileURL(tmp / "missing/file"))) {
            return 2;
        }
        return 0;
    });
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(hasDeletePermission(URL::fileURL(tmp / "missing/file")));
}

} // namespace
} // namespace sweepkit
