#include "sdk/finder/spotlight/IndexStatusTool.hpp"

#include "platform/error/Error.hpp"
#include "platform/testing/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace sweepkit {
namespace {

TEST(IndexStatusTool, ReadsTheAnswerFromTheTwoWordsItLooksFor) {
    struct Case {
        std::string output;
        bool indexed;
    };
    const Case cases[] = {
        {"/:\n\tIndexing enabled. \n", true},        {"/:\n\tIndexing disabled.\n", false},
        {"Error: unknown indexing state.\n", false}, {"", true},
        {"/:\n\tIndexing enabled. \xff\n", false}, // no UTF-8 text
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IndexStatusTool::isIndexedFromOutput(c.output), c.indexed) << c.output;
    }
}

TEST(IndexStatusTool, RunsTheToolWithTheVolumePathAndIgnoresItsExitStatus) {
    velmor::testing::TemporaryDirectory dir;
    const std::string tool =
        dir.writeFile("mdutil", "#!/bin/sh\n"
                                "[ \"$1\" = -s ] || exit 2\n"
                                "echo \"$2:\"\n"
                                "case \"$2\" in */off) echo ' Indexing disabled.';; esac\n"
                                "exit 3\n");
    ASSERT_EQ(::chmod(tool.c_str(), 0755), 0);
    const IndexStatusTool status{tool};
    EXPECT_TRUE(status.isIndexed(velmor::URL::fileURL("/Volumes/on")));
    EXPECT_FALSE(status.isIndexed(velmor::URL::fileURL("/Volumes/off")));
    EXPECT_STREQ(IndexStatusTool{}.executablePath.c_str(), "/usr/bin/mdutil");
}

TEST(IndexStatusTool, AToolThatCannotBeStartedThrowsItsLaunchError) {
    velmor::testing::TemporaryDirectory dir;
    try {
        IndexStatusTool{dir / "missing"}.isIndexed(velmor::URL::fileURL("/"));
        FAIL() << "ran a missing tool";
    } catch (const velmor::ErrorException& exception) {
        EXPECT_EQ(exception.error().domain(), velmor::Error::cocoaDomain);
        EXPECT_EQ(exception.error().code(), 4);
    }
}

} // namespace
} // namespace sweepkit
