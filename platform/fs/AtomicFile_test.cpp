#include "platform/fs/AtomicFile.hpp"

#include "platform/error/Error.hpp"
#include "platform/testing/FileSnapshot.hpp"
#include "platform/testing/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace velmor {
namespace {

using velmor::testing::contentsOf;
using velmor::testing::TemporaryDirectory;

TEST(AtomicFile, ReplacesTheWholeFileWithThePlainWriteModeAndLeavesNothingElse) {
    TemporaryDirectory dir;
    dir.writeFile("value", "an older and much longer content");
    ::chmod((dir / "value").c_str(), 0600);
    mode_t previous = ::umask(027);
    replaceFileAtomically(dir.path(), "value", "new");
    ::umask(previous);

    EXPECT_EQ(contentsOf(dir / "value"), "new");
    struct ::stat record {};
    ASSERT_EQ(::stat((dir / "value").c_str(), &record), 0);
    EXPECT_EQ(record.st_mode & 07777, 0640u);
    EXPECT_EQ(velmor::testing::snapshot(dir.path()), std::vector<std::string>{dir / "value = new"});
}

TEST(AtomicFile, ReplacesASymbolicLinkInsteadOfWritingThroughIt) {
    TemporaryDirectory dir;
    const std::string outside = dir.writeFile("outside/target", "keep");
    dir.makeDirectory("store");
    ASSERT_EQ(::symlink(outside.c_str(), (dir / "store/value").c_str()), 0);

    replaceFileAtomically(dir / "store", "value", "new");

    EXPECT_EQ(contentsOf(outside), "keep");
    struct ::stat record {};
    ASSERT_EQ(::lstat((dir / "store/value").c_str(), &record), 0);
    EXPECT_TRUE(S_ISREG(record.st_mode));
    EXPECT_EQ(contentsOf(dir / "store/value"), "new");
}

TEST(AtomicFile, AMissingFolderIsAnErrorCarryingTheTargetPath) {
    TemporaryDirectory dir;
    try {
        replaceFileAtomically(dir / "missing", "value", "x");
        FAIL() << "expected an error";
    } catch (const ErrorException& exception) {
        EXPECT_EQ(exception.error().code(), ENOENT);
        EXPECT_EQ(*exception.error().stringValue(Error::filePathKey), dir / "missing/value");
    }
    EXPECT_FALSE(velmor::testing::exists(dir / "missing"));
}

} // namespace
} // namespace velmor
