#include "platform/fs/FileRemover.hpp"

#include "platform/testing/PrivilegeDrop.hpp"
#include "platform/testing/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sched.h>
#include <set>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velmor {
namespace {

using testing::TemporaryDirectory;

using velmor::testing::exists;

// Runs `body` in a forked child with a mount namespace of its own, so that no mount outlives the
// test. Gives the child's exit code; 77 when this machine allows no private mount namespace.
int inPrivateMountNamespace(const std::function<int()>& body) {
    pid_t child = ::fork();
    if (child == 0) {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            ::_exit(77);
        }
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int posixCause(const std::optional<Error>& error) {
    return error && error->underlyingError() ? static_cast<int>(error->underlyingError()->code()) : 0;
}

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

TEST(FileRemover, OtherMountsInsideAreLeftAloneEvenOfTheSameFileSystem) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to mount a file system";
    }
    TemporaryDirectory tmp;
    tmp.makeDirectory("tree/tmpfs");
    tmp.makeDirectory("tree/bound");
    tmp.writeFile("tree/file");
    tmp.writeFile("source/precious", "the bind mount's source");
    int status = inPrivateMountNamespace([&] {
        // A bind mount of the same file system has the same device number as the tree.
        if (::mount("tmpfs", (tmp / "tree/tmpfs").c_str(), "tmpfs", 0, nullptr) != 0 ||
            ::mount((tmp / "source").c_str(), (tmp / "tree/bound").c_str(), nullptr, MS_BIND, nullptr) != 0) {
            return 77;
        }
        std::ofstream(tmp / "tree/tmpfs/precious") << "other file system";
        auto error = FileRemover().removeItem(tmp / "tree");
        if (posixCause(error) != EXDEV) {
            return 1;
        }
        if (!exists(tmp / "tree/tmpfs/precious") || !exists(tmp / "source/precious")) {
            return 2;
        }
        return exists(tmp / "tree/file") ? 3 : 0;
    });
    if (status == 77) {
        GTEST_SKIP() << "this machine does not allow a private mount namespace";
    }
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(exists(tmp / "source/precious"));
}

TEST(FileRemover, AnchoredRemovalNeverLeavesItsRoot) {
    TemporaryDirectory tmp;
    tmp.writeFile("outside/file", "not selected");
    tmp.writeFile("scan/real/file");
    tmp.writeFile("scan/plain");
    ASSERT_EQ(::symlink((tmp / "outside").c_str(), (tmp / "scan/d").c_str()), 0);
    const AnchoredFolder root(tmp / "scan");
    struct Case {
        const char* entry;
        int cause;
    };
    for (const Case& c : {Case{"scan/d/file", ENOTDIR}, Case{"scan/plain/file", ENOTDIR},
                          Case{"scan/../outside/file", EINVAL}, Case{"scan/./d/file", EINVAL},
                          Case{"outside/file", EINVAL}}) {
        auto error = FileRemover().removeItem(root, tmp / c.entry);
        EXPECT_EQ(posixCause(error), c.cause) << c.entry;
        ASSERT_TRUE(error) << c.entry;
        EXPECT_EQ(*error->stringValue(Error::filePathKey), tmp / c.entry);
        EXPECT_TRUE(exists(tmp / "outside/file")) << c.entry;
    }
    EXPECT_FALSE(FileRemover().removeItem(root, tmp / "scan/real/file"));
    EXPECT_FALSE(exists(tmp / "scan/real/file"));
    EXPECT_TRUE(exists(tmp / "scan/d")) << "the link in the way is no entry to remove";

    // The root itself may be a link: that is how the user set things up.
    ASSERT_EQ(::symlink((tmp / "scan").c_str(), (tmp / "linked-scan").c_str()), 0);
    tmp.writeFile("scan/real/second");
    EXPECT_FALSE(
        FileRemover().removeItem(AnchoredFolder(tmp / "linked-scan"), tmp / "linked-scan/real/second"));
    EXPECT_FALSE(exists(tmp / "scan/real/second"));
}

TEST(FileRemover, AnEntryGoesOnlyWhileItIsTheOneExpected) {
    TemporaryDirectory tmp;
    std::string file = tmp.writeFile("f", "short");
    Stat seen = *Stat::lstatPath(file);
    if (seen.st_birthtimespec == Timespec{}) {
        GTEST_SKIP() << "the file system under /tmp records no birth time";
    }
    // Another file at the same inode, as after a delete and a re-create: only its birth differs.
    FileIdentity reused = FileIdentity::of(seen);
    reused.birthTime.tv_nsec = (reused.birthTime.tv_nsec + 1) % 1000000000;
    FileIdentity otherInode = FileIdentity::of(seen);
    otherInode.inode += 1;
    for (const FileIdentity& expected : {reused, otherInode}) {
        auto error = FileRemover().removeItem(file, expected);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain(), FileRemover::errorDomain);
        EXPECT_EQ(error->code(), FileRemover::changedEntryCode);
        EXPECT_EQ(*error->stringValue(Error::filePathKey), file);
        EXPECT_TRUE(exists(file));
    }
    // Grown and touched, it is still the same file.
    std::ofstream(file, std::ios::app) << std::string(10000, 'x');
    EXPECT_FALSE(FileRemover().removeItem(AnchoredFolder(tmp.path()), file, FileIdentity::of(seen)));
    EXPECT_FALSE(exists(file));

    // The real thing, where the file system hands the inode on: a re-created file is kept.
    std::string path = tmp.writeFile("g", "old");
    Stat old = *Stat::lstatPath(path);
    for (int attempt = 0; attempt < 200; ++attempt) {
        ::unlink(path.c_str());
        tmp.writeFile("g", "new");
        if (Stat::lstatPath(path)->st_ino == old.st_ino) {
            EXPECT_TRUE(FileRemover().removeItem(path, FileIdentity::of(old)));
            EXPECT_TRUE(exists(path)) << "a new file at a reused inode must stay";
            break;
        }
    }
}

TEST(FileRemover, ATreeOfAnyDepthIsRemovedWithFewDescriptors) {
    TemporaryDirectory tmp;
    const std::string base = tmp.makeDirectory("fs");
    constexpr int depth = 20000;
    // In a child with a small descriptor limit, so that neither the stack nor the descriptors can
    // grow with the depth. The tree lives on a memory file system of the child's own where that is
    // allowed: the depth is under test, not the disk.
    pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0 &&
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0) {
            ::mount("tmpfs", base.c_str(), "tmpfs", 0, nullptr);
        }
        // Built through descriptors: the path soon outgrows what the path calls take.
        int folder = ::open(base.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (::mkdirat(folder, "deep", 0755) != 0) {
            ::_exit(3);
        }
        for (int level = 0; level < depth; ++level) {
            int next = ::openat(folder, level == 0 ? "deep" : "d", O_PATH | O_DIRECTORY | O_CLOEXEC);
            ::close(folder);
            folder = next;
            if (folder < 0 || ::mkdirat(folder, "d", 0755) != 0) {
                ::_exit(3);
            }
        }
        ::close(::openat(folder, "file", O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
        ::close(folder);

        struct ::rlimit limit {
            64, 64
        };
        ::setrlimit(RLIMIT_NOFILE, &limit);
        std::size_t removed = 0;
        auto error =
            FileRemover([&](const std::string&, const Stat&) { ++removed; }).removeItem(base + "/deep");
        if (error) {
            ::_exit(1);
        }
        ::_exit(removed == depth + 2 && !exists(base + "/deep") ? 0 : 2);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(FileRemover, AFolderGoesOnlyWithHiddenRegularFilesInIt) {
    TemporaryDirectory tmp;
    const AnchoredFolder root(tmp.makeDirectory("r"));
    using Outcome = FileRemover::FolderOutcome;
    struct Case {
        const char* name;
        std::function<void(const std::string& folder)> fill;
        Outcome outcome;
    };
    const Case cases[] = {
        {"empty", [](const std::string&) {}, Outcome::removed},
        {"settings-only",
         [](const std::string& folder) {
             std::ofstream(folder + "/.directory") << "view";
             std::ofstream(folder + "/.DS_Store") << "view";
         },
         Outcome::removed},
        {"hidden-folder",
         [](const std::string& folder) {
             std::filesystem::create_directories(folder + "/.git/objects");
             std::ofstream(folder + "/.git/objects/pack") << "history";
         },
         Outcome::kept},
        {"hidden-link",
         [&](const std::string& folder) {
             ASSERT_EQ(::symlink((tmp / "elsewhere").c_str(), (folder + "/.link").c_str()), 0);
         },
         Outcome::kept},
        {"hidden-fifo",
         [](const std::string& folder) { ASSERT_EQ(::mkfifo((folder + "/.fifo").c_str(), 0600), 0); },
         Outcome::kept},
        {"visible", [](const std::string& folder) { std::ofstream(folder + "/shown") << "x"; },
         Outcome::kept},
    };
    for (const Case& c : cases) {
        std::string folder = tmp.makeDirectory(std::string("r/") + c.name);
        c.fill(folder);
        auto step = FileRemover().removeFolderIfOnlyHiddenFiles(root, folder);
        EXPECT_EQ(step.outcome, c.outcome) << c.name;
        EXPECT_FALSE(step.error) << c.name;
        EXPECT_EQ(exists(folder), c.outcome == Outcome::kept) << c.name;
    }
    EXPECT_TRUE(exists(tmp / "r/hidden-folder/.git/objects/pack"));
    EXPECT_EQ(FileRemover().removeFolderIfOnlyHiddenFiles(root, tmp / "r/gone").outcome, Outcome::missing);
    EXPECT_EQ(FileRemover().removeFolderIfOnlyHiddenFiles(root, tmp / "r").outcome, Outcome::kept)
        << "the root itself is never removed";

    // A file that arrives after the hidden ones went keeps the folder, without a failure.
    std::string folder = tmp.makeDirectory("r/busy");
    std::ofstream(folder + "/.directory") << "view";
    FileRemover racing([&](const std::string& path, const Stat&) {
        if (path == folder + "/.directory") {
            std::ofstream(folder + "/new-work") << "just saved";
        }
    });
    auto step = racing.removeFolderIfOnlyHiddenFiles(root, folder);
    EXPECT_EQ(step.outcome, Outcome::kept);
    EXPECT_FALSE(step.error);
    EXPECT_TRUE(exists(folder + "/new-work"));
}

TEST(FileRemover, FailuresNameTheEntryAndTheCause) {
    struct Case {
        int cause;
        std::int64_t code;
        const char* description;
    };
    for (const Case& c : {
             Case{EACCES, FileRemover::writeNoPermissionCode,
                  "“report.txt” couldn't be removed because you don't have permission to access it."},
             Case{ENOENT, FileRemover::noSuchFileCode,
                  "“report.txt” couldn't be removed because it doesn't exist."},
             Case{EROFS, FileRemover::writeVolumeReadOnlyCode,
                  "“report.txt” couldn't be removed because the volume is read only."},
             Case{EXDEV, FileRemover::writeUnknownCode,
                  "“report.txt” couldn't be removed because another volume is mounted on it."},
             Case{EIO, FileRemover::writeUnknownCode,
                  "“report.txt” couldn't be removed because of an error (Input/output error)."},
         }) {
        Error error = FileRemover::fileOperationError(c.cause, "/home/u/report.txt");
        EXPECT_EQ(error.domain(), Error::cocoaDomain);
        EXPECT_EQ(error.code(), c.code);
        EXPECT_EQ(*error.underlyingError(), Error::posix(c.cause));
        EXPECT_EQ(*error.stringValue(Error::filePathKey), "/home/u/report.txt");
        EXPECT_EQ(error.description(), c.description);
    }
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
    for (const char* relative : {"", ".", "x", "./x"}) {
        EXPECT_EQ(posixCause(FileRemover().removeItem(relative)), EINVAL) << relative;
    }
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
        if (error->description() !=
            "“file” couldn't be removed because you don't have permission to access it.") {
            return 4;
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
