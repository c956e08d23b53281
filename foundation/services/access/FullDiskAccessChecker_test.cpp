#include "foundation/services/access/FullDiskAccessChecker.hpp"

#include "foundation/core/log/RecordingLogger.hpp"
#include "foundation/services/access/Constrained.hpp"
#include "foundation/services/access/DirectoryTest.hpp"
#include "platform/testing/PrivilegeDrop.hpp"
#include "platform/testing/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace velmor {
namespace {

using Status = FullDiskAccessChecker::FileStatus;

LoggerFactory countingFactory(std::vector<std::string>& categories) {
    return [&categories](const std::string& category) {
        categories.push_back(category);
        return std::make_shared<testing::RecordingLogger>();
    };
}

TEST(FullDiskAccessChecker, RootMayReadEveryProbedPlace) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root: the probed places are readable by root only";
    }
    std::vector<std::string> categories;
    auto result = FullDiskAccessChecker::checkFDAIsGranted(countingFactory(categories));
    EXPECT_EQ(result.size(), 3u);
    for (const auto& [url, status] : result) {
        EXPECT_NE(status, Status::unreadable) << url.path();
    }
    EXPECT_EQ(categories, std::vector<std::string>{"FDAChecker"});
    EXPECT_TRUE(FullDiskAccessChecker::isFullDiskAccessAllowed());
    EXPECT_TRUE(FullDiskAccessChecker::isFullDiskAccessAllowed(countingFactory(categories)));
}

TEST(FullDiskAccessChecker, AnOrdinaryUserIsDenied) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to drop privileges to user 65534";
    }
    struct ::stat root {};
    if (::stat("/root", &root) != 0 || (root.st_mode & S_IROTH) != 0) {
        GTEST_SKIP() << "/root is missing or readable by everyone here";
    }
    int code = testing::runAsUnprivilegedUser([] {
        auto result = FullDiskAccessChecker::checkFDAIsGranted(
            [](const std::string&) { return std::make_shared<testing::RecordingLogger>(); });
        auto root = result.find(URL::fileURL("/root"));
        if (root == result.end() || root->second != Status::unreadable) {
            return 1;
        }
        return FullDiskAccessChecker::isFullDiskAccessAllowed() ? 2 : 0;
    });
    ASSERT_NE(code, 125) << "could not drop privileges";
    EXPECT_EQ(code, 0);
}

TEST(FullDiskAccessChecker, FileStatusTellsMissingFromUnreadable) {
    testing::TemporaryDirectory folder;
    auto secret = folder.writeFile("secret", "x");
    ::chmod(secret.c_str(), 0600);
    ::chmod(folder.path().c_str(), 0755);
    auto missing = folder / "missing";
    EXPECT_EQ(FullDiskAccessChecker::fileStatus(missing), Status::nonexistant);
    EXPECT_EQ(FullDiskAccessChecker::fileStatus(secret), Status::readable);
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to read as user 65534";
    }
    int code = testing::runAsUnprivilegedUser([&] {
        return (FullDiskAccessChecker::fileStatus(secret) == Status::unreadable ? 0 : 1) +
               (FullDiskAccessChecker::fileStatus(missing) == Status::nonexistant ? 0 : 2);
    });
    ASSERT_NE(code, 125) << "could not drop privileges";
    EXPECT_EQ(code, 0);
}

TEST(FullDiskAccessChecker, GrantedUnlessSomethingIsUnreadable) {
    auto a = URL::fileURL("/a"), b = URL::fileURL("/b"), c = URL::fileURL("/c");
    struct Case {
        FullDiskAccessChecker::ProbeResult result;
        bool granted;
    };
    std::vector<Case> cases{
        {{}, true},
        {{{a, Status::nonexistant}, {b, Status::readable}}, true},
        {{{a, Status::nonexistant}, {b, Status::nonexistant}, {c, Status::nonexistant}}, true},
        {{{a, Status::readable}, {b, Status::unreadable}, {c, Status::readable}}, false},
        {{{a, Status::unreadable}}, false},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(fdaGranted(cases[i].result), cases[i].granted) << "case " << i;
    }
}

TEST(DirectoryTest, OnlyExistingFoldersAndLinksToThem) {
    testing::TemporaryDirectory folder;
    auto file = folder.writeFile("file");
    auto sub = folder.makeDirectory("sub");
    ASSERT_EQ(::symlink(sub.c_str(), (folder / "link").c_str()), 0);
    EXPECT_FALSE(isDirectory(folder / "missing"));
    EXPECT_FALSE(isDirectory(file));
    EXPECT_TRUE(isDirectory(sub));
    EXPECT_TRUE(isDirectory(folder / "link"));
    EXPECT_TRUE(isDirectory(URL::fileURL(sub)));
    EXPECT_FALSE(isDirectory(URL::fileURL(file)));
}

TEST(Constrained, ClampsIntoTheRange) {
    EXPECT_EQ(constrained(15, HalfOpenRange<int>{0, 10}), 9);
    EXPECT_EQ(constrained(15, ClosedRange<int>{0, 10}), 10);
    EXPECT_EQ(constrained(-3, HalfOpenRange<int>{0, 10}), 0);
    EXPECT_EQ(constrained(-3, ClosedRange<int>{0, 10}), 0);
    EXPECT_EQ(constrained(5, HalfOpenRange<int>{0, 10}), 5);
    EXPECT_EQ(constrained(2.5, ClosedRange<double>{0.0, 1.0}), 1.0);
    // Empty half-open ranges give their lower bound, even where upper - 1 does not exist.
    EXPECT_EQ(constrained(7, HalfOpenRange<int>{3, 3}), 3);
    constexpr auto smallest = std::numeric_limits<std::int8_t>::min();
    EXPECT_EQ(constrained<std::int8_t>(5, HalfOpenRange<std::int8_t>{smallest, smallest}), smallest);
    EXPECT_EQ(constrained<std::uint32_t>(5, HalfOpenRange<std::uint32_t>{0, 0}), 0u);
}

} // namespace
} // namespace velmor
