#include "platform/fs/FileContents.hpp"

#include "platform/fs/Descriptor.hpp"
#include "platform/testing/TemporaryDirectory.hpp"
#include "platform/testing/Watchdog.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace velmor {
namespace {

using velmor::testing::TemporaryDirectory;

constexpr std::size_t limit = 1000;

TEST(WholeFileRead, TakesOnlyRegularFilesUpToTheLimit) {
    // A FIFO or a device would hold or feed a plain read for ever.
    velmor::testing::Watchdog watchdog("whole-file reads", 30);
    TemporaryDirectory dir;
    dir.writeFile("exact", std::string(limit, 'x'));
    dir.writeFile("over", std::string(limit + 1, 'x'));
    dir.writeFile("empty");
    dir.makeDirectory("folder");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("exact", (dir / "link").c_str()), 0);
    ASSERT_EQ(::symlink("/dev/zero", (dir / "zero").c_str()), 0);
    struct Case {
        std::string name;
        FinalLink finalLink;
        std::size_t expectedSize; // when read
        int error;
        const char* cause; // a part of it
    };
    const Case cases[] = {
        {"exact", FinalLink::follow, limit, 0, ""},
        {"empty", FinalLink::follow, 0, 0, ""},
        {"link", FinalLink::follow, limit, 0, ""},
        {"link", FinalLink::refuse, 0, ELOOP, "symbolic link"},
        {"over", FinalLink::follow, 0, EFBIG, "over the limit of 1000 bytes"},
        {"folder", FinalLink::follow, 0, EISDIR, "Is a directory"},
        {"fifo", FinalLink::follow, 0, EINVAL, "a FIFO, not a regular file"},
        {"zero", FinalLink::follow, 0, EINVAL, "a character device"},
        {"missing", FinalLink::follow, 0, ENOENT, "No such file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const WholeFile read = readWholeFile(dir / c.name, limit, c.finalLink);
        EXPECT_EQ(read.error, c.error);
        EXPECT_NE(read.cause.find(c.cause), std::string::npos) << read.cause;
        EXPECT_EQ(read.contents.size(), c.expectedSize);

        // The same from the folder the name is in.
        Descriptor folder(::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        EXPECT_EQ(readWholeFile(c.name, limit, c.finalLink, folder.get()).error, c.error);
    }
}

TEST(WholeFileRead, FailuresNameTheFileAndTheCause) {
    velmor::testing::Watchdog watchdog("whole-file reads", 30);
    TemporaryDirectory dir;
    const std::string over = dir.writeFile("over.plist", std::string(limit + 1, 'x'));
    const std::string fifo = dir / "fifo.plist";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        std::string path;
        std::int64_t cocoaCode;
        int posixCode;
        std::string description;
    };
    const Case cases[] = {
        {over, fileReadTooLargeCode, EFBIG,
         "could not be read: File too large: it is over the limit of 1000 bytes."},
        {fifo, fileReadUnknownCode, EINVAL, "could not be read: It is a FIFO, not a regular file."},
        {dir / "missing.plist", fileReadNoSuchFileCode, ENOENT,
         "could not be read: No such file or directory."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const URL url = URL::fileURL(c.path);
        try {
            contentsOfFile(url, limit);
            ADD_FAILURE() << "read";
        } catch (const ErrorException& exception) {
            const Error& error = exception.error();
            EXPECT_EQ(error.domain(), Error::cocoaDomain);
            EXPECT_EQ(error.code(), c.cocoaCode);
            EXPECT_EQ(error.description(), "The file \"" + url.lastPathComponent() + "\" " + c.description);
            EXPECT_EQ(*error.stringValue(Error::filePathKey), c.path);
            ASSERT_NE(error.underlyingError(), nullptr);
            EXPECT_EQ(error.underlyingError()->code(), c.posixCode);
        }
        if (c.posixCode == ENOENT) {
            EXPECT_EQ(readFileIfPresent(c.path, limit), std::nullopt);
            continue;
        }
        try {
            readFileIfPresent(c.path, limit);
            ADD_FAILURE() << "read";
        } catch (const ErrorException& exception) {
            const Error& error = exception.error();
            EXPECT_EQ(error.domain(), Error::posixDomain);
            EXPECT_EQ(error.code(), c.posixCode);
            EXPECT_EQ(error.description(), "The file " + c.path + " " + c.description);
            EXPECT_EQ(*error.stringValue(Error::filePathKey), c.path);
        }
    }
    EXPECT_EQ(contentsOfFile(URL::fileURL(dir.writeFile("small", "text")), limit), "text");
    EXPECT_EQ(readFileIfPresent(dir / "small", limit), "text");
}

} // namespace
} // namespace velmor
