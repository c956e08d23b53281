#include "app/ui/table/FileIcon.hpp"

#include "platform/testing/PrivilegeDrop.hpp"
#include "platform/testing/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace marrowdale {
namespace {

// Enough of a PDF for the type to be told from its content.
const std::string pdfBytes =
    "%PDF-1.4\n1 0 obj << /Type /Catalog >> endobj\ntrailer << /Root 1 0 R >>\n%%EOF\n";

// 2001-09-09 01:46:40 UTC: a download nobody has opened since.
constexpr time_t oldAccess = 1000000000;

void setAccessTime(const std::string& path, time_t seconds) {
    struct timespec times[2] = {{seconds, 0}, {0, UTIME_OMIT}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

time_t accessTime(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(::lstat(path.c_str(), &status), 0);
    return status.st_atim.tv_sec;
}

TEST(FileIcon, AFileWithoutExtensionIsTypedByContentAndKeepsItsAccessTime) {
    velmor::testing::TemporaryDirectory tmp;
    const std::string report = tmp.writeFile("report", pdfBytes);
    setAccessTime(report, oldAccess);
    EXPECT_EQ(entryMimeType(report, S_IFREG | 0644).name().toStdString(), "application/pdf");
    EXPECT_EQ(accessTime(report), oldAccess);
}

TEST(FileIcon, WhatIsNoRegularFileIsTypedFromItsModeWithoutBeingOpened) {
    velmor::testing::TemporaryDirectory tmp;
    const std::string pipe = tmp / "pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
    const std::string folder = tmp.makeDirectory("folder");
    struct Case {
        std::string path;
        mode_t mode;
        const char* expected;
    };
    const Case cases[] = {
        {pipe, S_IFIFO | 0644, "inode/fifo"},
        {folder, S_IFDIR | 0755, "inode/directory"},
        {tmp / "link", S_IFLNK | 0777, "inode/symlink"},
        {"/dev/null", S_IFCHR | 0666, "inode/chardevice"},
        {tmp / "socket", S_IFSOCK | 0755, "inode/socket"},
        {tmp / "disk", S_IFBLK | 0660, "inode/blockdevice"},
    };
    // Only our own pipe is watched: any process on the machine may open /dev/null meanwhile.
    int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, pipe.c_str(), IN_OPEN), 0);
    for (const auto& c : cases) {
        EXPECT_EQ(entryMimeType(c.path, c.mode).name().toStdString(), c.expected) << c.path;
    }
    char events[4096];
    EXPECT_LT(::read(watch, events, sizeof events), 0) << "the pipe was opened";
    ::close(watch);
}

TEST(FileIcon, AFileReplacedByAPipeSinceTheScanDoesNotBlock) {
    velmor::testing::TemporaryDirectory tmp;
    const std::string pipe = tmp / "was-a-file";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
    EXPECT_EQ(entryMimeType(pipe, S_IFREG | 0644).name().toStdString(), "inode/fifo");
}

TEST(FileIcon, AFileOfAnotherUserIsTypedByNameAlone) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to run a child as another user";
    }
    velmor::testing::TemporaryDirectory tmp;
    ASSERT_EQ(::chmod(tmp.path().c_str(), 0755), 0);
    const std::string report = tmp.writeFile("report", pdfBytes);
    const std::string notes = tmp.writeFile("notes.txt", pdfBytes);
    ASSERT_EQ(::chmod(report.c_str(), 0644), 0);
    ASSERT_EQ(::chmod(notes.c_str(), 0644), 0);
    setAccessTime(report, oldAccess);
    // The database is loaded before the fork, so the child needs no lock another thread may hold.
    ASSERT_EQ(entryMimeType(notes, S_IFREG | 0644).name().toStdString(), "text/plain");

    int status = velmor::testing::runAsUnprivilegedUser([&] {
        // It may read the file, but could not do so without moving the access time.
        if (entryMimeType(report, S_IFREG | 0644).name() != QLatin1String("application/octet-stream")) {
            return 1;
        }
        if (entryMimeType(notes, S_IFREG | 0644).name() != QLatin1String("text/plain")) {
            return 2;
        }
        return 0;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(accessTime(report), oldAccess);
}

} // namespace
} // namespace marrowdale
