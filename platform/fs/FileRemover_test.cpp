#include "platform/fs/FileRemover.hpp"

#include "platform/testing/PrivilegeDrop.hpp"
#include "platform/testing/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sched.h>
#include <set>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velmor {
namespace {

using testing::TemporaryDirectory;

using velmor::testing::exists;

struct Recorder {
    std::set<std::string> removed;
    std::int64_t allocatedBytes = 0;
    FileRemover remover() {
        return FileRemover([this](const std::string& path, const Stat& stat) {
            removed.insert(path);
            allocatedBytes += stat.st_blocks * 512;
        });
    }
};

TEST(FileRemover, RemovesAFolderWithEverythingInItAndReportsEachEntry) {
    TemporaryDirectory tmp;
    tmp.writeFile("f/a", std::string(10, 'x'));
    tmp.writeFile("f/sub/b", std::string(5000, 'y'));
    tmp.writeFile("f/.hidden");
    tmp.writeFile("keep");
    Recorder recorder;
    EXPECT_FALSE(recorder.remover().removeItem(tmp / "f"));
    EXPECT_FALSE(exists(tmp / "f"));
    EXPECT_TRUE(exists(tmp / "keep"));
    EXPECT_EQ(recorder.removed, (std::set<std::string>{tmp / "f", tmp / "f/a", tmp / "f/sub", tmp / "f/sub/b",
                                                       tmp / "f/.hidden"}));
    EXPECT_GT(recorder.allocatedBytes, 0);
}

TEST(FileRemover, LinksAreRemovedAsLinksAtAnyDepth) {
    TemporaryDirectory tmp;
    tmp.writeFile("outside/precious", "data");
    tmp.makeDirectory("tree/inner");
    ASSERT_EQ(::symlink((tmp / "outside").c_str(), (tmp / "tree/inner/link-to-folder").c_str()), 0);
    ASSERT_EQ(::symlink((tmp / "outside/precious").c_str(), (tmp / "tree/link-to-file").c_str()), 0);
    ASSERT_EQ(::symlink((tmp / "outside").c_str(), (tmp / "top-link").c_str()), 0);
    ASSERT_EQ(::symlink((tmp / "outside").c_str(), (tmp / "slash-link").c_str()), 0);

    FileRemover remover;
    EXPECT_FALSE(remover.removeItem(tmp / "tree"));
    EXPECT_FALSE(remover.removeItem(tmp / "top-link"));
    EXPECT_FALSE(remover.removeItem(tmp / "slash-link/"))
        << "a trailing slash must not reach through the link";
    EXPECT_FALSE(exists(tmp / "tree"));
    EXPECT_FALSE(exists(tmp / "top-link"));
    EXPECT_FALSE(exists(tmp / "slash-link"));
    EXPECT_TRUE(exists(tmp / "outside/precious"));
}

TEST(FileRemover, AFolderSwappedForALinkDuringTheRunIsNotFollowed) {
    TemporaryDirectory tmp;
    tmp.writeFile("outside/precious", "data");
    for (const char* name : {"a", "b", "c"}) {
        tmp.writeFile(std::string("tree/") + name + "/file");
    }
    // As soon as the first entry goes, every sibling folder not yet reached becomes a link to
    // "outside".
    bool swapped = false;
    FileRemover remover([&](const std::string& path, const Stat&) {
        if (swapped) {
            return;
        }
        swapped = true;
        for (const char* name : {"a", "b", "c"}) {
            std::string folder = tmp / (std::string("tree/") + name);
            if (path.rfind(folder, 0) == 0) {
                continue;
            }
            std::filesystem::rename(folder, tmp / (std::string("moved-") + name));
            ASSERT_EQ(::symlink((tmp / "outside").c_str(), folder.c_str()), 0);
        }
    });
    EXPECT_FALSE(remover.removeItem(tmp / "tree"));
    EXPECT_TRUE(swapped);
    EXPECT_FALSE(exists(tmp / "tree"));
    EXPECT_TRUE(exists(tmp / "outside/precious"));
}

TEST(FileRemover, EntriesThatVanishMeanwhileAreNoFailure) {
    TemporaryDirectory tmp;
    for (int i = 0; i < 10; ++i) {
        tmp.writeFile("tree/f" + std::to_string(i));
    }
    // As soon as the first entry goes, every other file goes behind the remover's back.
    bool vanished = false;
    FileRemover remover([&](const std::string&, const Stat&) {
        if (!vanished) {
            vanished = true;
            for (int i = 0; i < 10; ++i) {
                ::unlink((tmp / ("tree/f" + std::to_string(i))).c_str());
            }
        }
    });
    EXPECT_FALSE(remover.removeItem(tmp / "tree"));
    EXPECT_FALSE(exists(tmp / "tree"));
}

TEST(FileRemover, AnotherFileSystemMountedInsideIsLeftAlone) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to mount a file system";
    }
    TemporaryDirectory tmp;
    tmp.makeDirectory("tree/mnt");
    tmp.writeFile("tree/file");
    // In a child with a mount namespace of its own, so the mount never outlives the test.
    pid_t child = ::fork();
    if (child == 0) {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", (tmp / "tree/mnt").c_str(), "tmpfs", 0, nullptr) != 0) {
            ::_exit(77);
        }
        std::ofstream(tmp / "tree/mnt/precious") << "other file system";
        auto error = FileRemover().removeItem(tmp / "tree");
        if (!error || !error->underlyingError() || error->underlyingError()->code() != EXDEV) {
            ::_exit(1);
        }
        ::_exit(exists(tmp / "tree/mnt/precious") && !exists(tmp / "tree/file") ? 0 : 2);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) {
        GTEST_SKIP() << "this machine does not allow a private mount namespace";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(FileRemover, MissingEntriesFailWithNoSuchFileOverEnoent) {
    TemporaryDirectory tmp;
    auto error = FileRemover().removeItem(tmp / "gone");
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), Error::cocoaDomain);
    EXPECT_EQ(error->code(), FileRemover::noSuchFileCode);
    ASSERT_TRUE(error->underlyingError());
    EXPECT_EQ(*error->underlyingError(), Error::posix(ENOENT));
    EXPECT_EQ(*error->stringValue(Error::filePathKey), tmp / "gone");

    EXPECT_TRUE(FileRemover().removeItem("/"));
    EXPECT_TRUE(FileRemover().removeItem(tmp / "."));
    EXPECT_TRUE(exists(tmp.path()));
}

TEST(FileRemover, PermissionFailuresRemoveWhatTheyCanAndCountOnlyThat) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to fork a child that drops to an unprivileged user";
    }
    TemporaryDirectory tmp;
    ::chmod(tmp.path().c_str(), 0755);
    std::string root = tmp.makeDirectory("root");
    tmp.writeFile("root/open/file", "x");
    tmp.writeFile("root/locked/file", "x");
    for (const char* path : {"root", "root/open", "root/open/file", "root/locked", "root/locked/file"}) {
        ASSERT_EQ(::chown((tmp / path).c_str(), testing::unprivilegedUser, testing::unprivilegedUser), 0);
    }
    ASSERT_EQ(::chmod((tmp / "root/locked").c_str(), 0555), 0);

    int status = testing::runAsUnprivilegedUser([&] {
        std::set<std::string> removed;
        FileRemover remover([&](const std::string& path, const Stat&) { removed.insert(path); });
        auto error = remover.removeItem(root);
        if (!error || error->code() != FileRemover::writeNoPermissionCode) {
            return 1;
        }
        if (*error->stringValue(Error::filePathKey) != tmp / "root/locked/file") {
            return 2;
        }
        if (removed != std::set<std::string>{tmp / "root/open", tmp / "root/open/file"}) {
            return 3;
        }
        return 0;
    });
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(exists(tmp / "root/open"));
    EXPECT_TRUE(exists(tmp / "root/locked/file"));
}

} // namespace
} // namespace velmor
