#include "sdk/finder/cleaning/FileCleaner.hpp"

#include "platform/coding/JSON.hpp"
#include "platform/testing/PrivilegeDrop.hpp"
#include "platform/testing/TemporaryDirectory.hpp"
#include "sdk/finder/cleaning/DeletionRoutine.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <future>
#include <limits>
#include <set>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace sweepkit {
namespace {

using velmor::URL;
using velmor::testing::TemporaryDirectory;

using velmor::testing::exists;

std::int64_t allocated(const std::string& path) {
    struct ::stat record {};
    ::lstat(path.c_str(), &record);
    return record.st_blocks * 512;
}

std::vector<URL> urls(std::initializer_list<std::string> paths) {
    std::vector<URL> result;
    for (const auto& path : paths) {
        result.push_back(URL::fileURL(path));
    }
    return result;
}

struct Run {
    std::shared_ptr<velmor::Progress> progress;
    CleaningResult result;
};

Run clean(const FileCleaner& cleaner, std::vector<URL> entries, std::vector<URL> roots = {},
          bool emptied = false) {
    std::promise<CleaningResult> done;
    auto progress = cleaner.clean(std::move(entries), std::move(roots), emptied, [&](CleaningResult result) {
        EXPECT_TRUE(cleaner.queue().isCurrent());
        done.set_value(std::move(result));
    });
    return Run{progress, done.get_future().get()};
}

TEST(FileCleaner, AnEmptyListReportsNothing) {
    FileCleaner cleaner;
    auto run = clean(cleaner, {});
    EXPECT_EQ(run.progress->totalUnitCount(), 0);
    EXPECT_EQ(run.result.reclaimedBytes, 0u);
    EXPECT_TRUE(run.result.errors.empty());
    EXPECT_FALSE(run.result.cancelled);
    EXPECT_EQ(FileCleaner().queue().label(), "com.velmor.sweepkit.FileCleaner.queue");
}

TEST(FileCleaner, ReclaimsTheAllocatedSizeOfEverythingRemoved) {
    TemporaryDirectory tmp;
    std::string small = tmp.writeFile("small", std::string(10, 'x'));
    std::string inner = tmp.writeFile("folder/inner", std::string(5000, 'y'));
    const std::int64_t expected = allocated(small) + allocated(inner) + allocated(tmp / "folder");
    ASSERT_GT(allocated(small), 10);

    FileCleaner cleaner;
    auto run = clean(cleaner, urls({small, tmp / "folder", tmp / "already-gone"}));
    EXPECT_EQ(run.result.reclaimedBytes, static_cast<std::uint64_t>(expected));
    EXPECT_TRUE(run.result.errors.empty()) << "an entry that is already gone is no failure";
    EXPECT_EQ(run.progress->totalUnitCount(), 3);
    EXPECT_EQ(run.progress->completedUnitCount(), 3);
    EXPECT_FALSE(exists(small));
    EXPECT_FALSE(exists(tmp / "folder"));
}

TEST(FileCleaner, AHardLinkedFileIsReclaimedOnlyWithItsLastName) {
    struct Case {
        const char* name;
        std::string file;               // a file of 1 MiB
        std::vector<std::string> links; // further names of it
        std::vector<std::string> entries;
        std::vector<std::string> reclaimed; // whose allocated size the run gives back
        bool emptied = false;
    };
    const Case cases[] = {
        {"one of two names", "r/data", {"r/other"}, {"r/data"}, {}},
        {"both names in one run", "r/data", {"r/other"}, {"r/data", "r/other"}, {"r/data"}},
        {"both names inside a removed folder", "r/f/one", {"r/f/two"}, {"r/f"}, {"r/f/one", "r/f"}},
        {"a name inside a removed folder, another outside", "r/data", {"r/f/one"}, {"r/f"}, {"r/f"}},
        {"a name inside a removed folder, another removed after it",
         "r/data",
         {"r/f/one"},
         {"r/f", "r/data"},
         {"r/f", "r/data"}},
        {"both names hidden in a folder the clean empties",
         "r/d/.one",
         {"r/d/.two"},
         {"r/d/entry"},
         {"r/d/.one", "r/d/entry", "r/d"},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TemporaryDirectory tmp;
        tmp.writeFile(c.file, std::string(1 << 20, 'x'));
        tmp.writeFile("r/d/entry", "x");
        tmp.makeDirectory("r/f");
        for (const auto& name : c.links) {
            ASSERT_EQ(::link((tmp / c.file).c_str(), (tmp / name).c_str()), 0) << name;
        }
        std::uint64_t expected = 0;
        for (const auto& path : c.reclaimed) {
            expected += static_cast<std::uint64_t>(allocated(tmp / path));
        }
        std::vector<URL> entries;
        for (const auto& path : c.entries) {
            entries.push_back(URL::fileURL(tmp / path));
        }
        auto run = clean(FileCleaner(), entries, urls({tmp / "r"}), c.emptied);
        EXPECT_TRUE(run.result.errors.empty());
        EXPECT_EQ(run.result.reclaimedBytes, expected);
        if (c.emptied) {
            EXPECT_FALSE(exists(tmp / "r/d")) << "the pass took the emptied folder";
        }
    }
}

TEST(FileCleaner, TheReclaimedCountStopsAtTheLargestCount) {
    velmor::Stat huge;
    huge.st_mode = S_IFREG | 0644;
    huge.st_nlink = 1;
    huge.st_blocks = std::numeric_limits<std::int64_t>::max();
    Cleaner::DeletedSizeAccumulator accumulator;
    accumulator.didRemove("/huge", huge);
    EXPECT_EQ(accumulator.reclaimedBytes(), std::numeric_limits<std::uint64_t>::max()) << "one entry";
    huge.st_blocks = std::int64_t{1} << 54;
    Cleaner::DeletedSizeAccumulator sum;
    for (int i = 0; i < 3; ++i) {
        sum.didRemove("/huge", huge);
    }
    EXPECT_EQ(sum.reclaimedBytes(), std::numeric_limits<std::uint64_t>::max()) << "three entries";
}

TEST(FileCleaner, LinksAreRemovedAsLinks) {
    TemporaryDirectory tmp;
    tmp.writeFile("outside/precious", "keep me");
    tmp.makeDirectory("tree");
    ASSERT_EQ(::symlink((tmp / "outside").c_str(), (tmp / "tree/link").c_str()), 0);
    ASSERT_EQ(::symlink((tmp / "outside").c_str(), (tmp / "top-link").c_str()), 0);
    FileCleaner cleaner;
    auto run = clean(cleaner, urls({tmp / "tree", tmp / "top-link"}));
    EXPECT_TRUE(run.result.errors.empty());
    EXPECT_FALSE(exists(tmp / "tree"));
    EXPECT_FALSE(exists(tmp / "top-link"));
    EXPECT_TRUE(exists(tmp / "outside/precious"));
}

TEST(FileCleaner, CancellingBeforeTheQueueRunsRemovesNothing) {
    TemporaryDirectory tmp;
    std::string file = tmp.writeFile("file", "x");
    FileCleaner cleaner;
    std::promise<void> release;
    auto held = release.get_future().share();
    cleaner.queue().async([held] { held.wait(); }); // keeps the queue busy until the run is cancelled

    std::promise<CleaningResult> done;
    auto progress =
        cleaner.clean(urls({file}), {}, false, [&](CleaningResult result) { done.set_value(result); });
    progress->cancel();
    release.set_value();
    CleaningResult result = done.get_future().get();
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(result.reclaimedBytes, 0u);
    EXPECT_EQ(progress->completedUnitCount(), 0);
    EXPECT_TRUE(exists(file));
}

TEST(FileCleaner, EmptiedFoldersStayUnlessAskedFor) {
    TemporaryDirectory tmp;
    std::string file = tmp.writeFile("r/a/b/f", "x");
    FileCleaner cleaner;
    clean(cleaner, urls({file}), urls({tmp / "r"}), false);
    EXPECT_TRUE(exists(tmp / "r/a/b"));
}

TEST(FileCleaner, EmptiedFoldersGoUpToButNotIncludingTheRoot) {
    TemporaryDirectory tmp;
    std::string file = tmp.writeFile("r/a/b/f", "x");
    tmp.writeFile("r/a/b/.directory", "view settings");
    tmp.writeFile("r/keep", "x");
    FileCleaner cleaner;
    auto run = clean(cleaner, urls({file}), urls({tmp / "r"}), true);
    EXPECT_TRUE(run.result.errors.empty());
    EXPECT_FALSE(exists(tmp / "r/a/b"));
    EXPECT_FALSE(exists(tmp / "r/a"));
    EXPECT_TRUE(exists(tmp / "r"));
    EXPECT_TRUE(exists(tmp / "r/keep"));

    // A folder that still shows an entry stays, and so does everything above it.
    std::string second = tmp.writeFile("r/c/d/f", "x");
    tmp.writeFile("r/c/visible", "x");
    clean(cleaner, urls({second}), urls({tmp / "r"}), true);
    EXPECT_FALSE(exists(tmp / "r/c/d"));
    EXPECT_TRUE(exists(tmp / "r/c/visible"));
}

TEST(FileCleaner, FoldersAlreadyRemovedForAnEarlierEntryAreNoFailure) {
    TemporaryDirectory tmp;
    std::string x = tmp.writeFile("r/a/x", "x");
    std::string y = tmp.writeFile("r/a/y", "y");
    FileCleaner cleaner;
    auto run = clean(cleaner, urls({x, y}), urls({tmp / "r"}), true);
    EXPECT_TRUE(run.result.errors.empty());
    EXPECT_FALSE(exists(tmp / "r/a"));
    EXPECT_TRUE(exists(tmp / "r"));
}

// Exchanges two entries over and over on a thread of its own until it goes.
class Swapper {
public:
    Swapper(std::string a, std::string b)
        : thread_([a = std::move(a), b = std::move(b)](std::stop_token stop) {
              while (!stop.stop_requested()) {
                  ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE);
              }
          }) {}

private:
    std::jthread thread_;
};

std::size_t filesIn(const std::string& folder) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) {
        ++count;
    }
    return count;
}

TEST(FileCleaner, AFolderSwappedForALinkNeverLeadsOutsideTheRoot) {
    TemporaryDirectory tmp;
    constexpr int rounds = 200;
    for (int i = 0; i < rounds; ++i) {
        tmp.writeFile("scan/d/file" + std::to_string(i));
        tmp.writeFile("outside/file" + std::to_string(i), "not selected");
    }
    tmp.writeFile("scan/d/kept"); // never selected: the folder pass keeps the folder
    ASSERT_EQ(::symlink((tmp / "outside").c_str(), (tmp / "scan/l").c_str()), 0);
    std::size_t failed = 0;
    {
        Swapper swapper(tmp / "scan/d", tmp / "scan/l");
        for (int i = 0; i < rounds; ++i) {
            velmor::Progress progress(1);
            auto result = Cleaner::removeItems(urls({tmp / ("scan/d/file" + std::to_string(i))}),
                                               urls({tmp / "scan"}), true, progress);
            failed += result.errors.size();
        }
    }
    EXPECT_EQ(filesIn(tmp / "outside"), static_cast<std::size_t>(rounds))
        << "files outside the root were deleted";
    // Every entry either went or failed because a link stood in its way.
    const bool atD = S_ISDIR(velmor::Stat::lstatPath(tmp / "scan/d")->st_mode);
    EXPECT_EQ(filesIn(atD ? tmp / "scan/d" : tmp / "scan/l"), failed + 1);
}

TEST(FileCleaner, TheFolderPassRemovesOnlyWhatHeldNothingButHiddenFiles) {
    TemporaryDirectory tmp;
    // a/b holds, besides the entry, a hidden folder with history in it: it is content.
    tmp.writeFile("r/a/b/f");
    tmp.writeFile("r/a/b/.git/objects/pack", "history");
    // ".." would take the pass, and the removal, outside the root.
    tmp.writeFile("x/f", "outside");
    // A link in the middle leads elsewhere.
    tmp.writeFile("elsewhere/sub/f", "outside");
    tmp.writeFile("elsewhere/sub/.directory", "outside");
    ASSERT_EQ(::symlink((tmp / "elsewhere").c_str(), (tmp / "r/link").c_str()), 0);

    FileCleaner cleaner;
    auto run = clean(cleaner, urls({tmp / "r/a/b/f", tmp / "r/../x/f", tmp / "r/link/sub/f"}),
                     urls({tmp / "r"}), true);
    EXPECT_FALSE(exists(tmp / "r/a/b/f"));
    EXPECT_TRUE(exists(tmp / "r/a/b/.git/objects/pack"));
    EXPECT_TRUE(exists(tmp / "x/f"));
    EXPECT_TRUE(exists(tmp / "elsewhere/sub/f"));
    EXPECT_TRUE(exists(tmp / "elsewhere/sub/.directory"));
    EXPECT_TRUE(exists(tmp / "r/link"));
    std::set<std::string> failedPaths;
    for (const auto& error : run.result.errors) {
        failedPaths.insert(error.path);
    }
    EXPECT_EQ(failedPaths, (std::set<std::string>{tmp / "r/../x/f", tmp / "r/link/sub/f"}));
}

TEST(FileCleaner, PathsRelativeToTheWorkingDirectoryAreRefused) {
    TemporaryDirectory tmp;
    std::string work = tmp.makeDirectory("work");
    tmp.writeFile("work/x", "x");
    // In a child: the working directory is the process's, and the child may change its own.
    pid_t child = ::fork();
    if (child == 0) {
        if (::chdir(work.c_str()) != 0) {
            ::_exit(3);
        }
        velmor::Progress progress(4);
        auto result = Cleaner::removeItems({URL::fileURL(""), URL::fileURL("x"), URL::fileURL("./x")},
                                           {URL::fileURL("")}, true, progress);
        if (result.errors.size() != 3) {
            ::_exit(1);
        }
        for (const auto& error : result.errors) {
            auto cause = error.error.underlyingError();
            if (!cause || cause->code() != EINVAL) {
                ::_exit(2);
            }
        }
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(exists(tmp / "work/x"));
}

TEST(FileCleaner, TheFolderPassStaysStrictlyInsideWholeRootComponents) {
    TemporaryDirectory tmp;
    std::string file = tmp.writeFile("r/abc/x/f", "x");
    std::string rootFile = tmp.writeFile("r/ab/f", "x");
    FileCleaner cleaner;
    // /r/ab is no root of /r/abc/x/f: its folders stay.
    clean(cleaner, urls({file, rootFile}), urls({tmp / "r/ab"}), true);
    EXPECT_FALSE(exists(file));
    EXPECT_TRUE(exists(tmp / "r/abc/x"));
    EXPECT_TRUE(exists(tmp / "r/ab")) << "a root is never removed";
}

TEST(FileCleaner, WithTheFolderPassTheDeepestEntriesGoFirst) {
    TemporaryDirectory tmp;
    tmp.writeFile("r/a.txt");
    tmp.writeFile("r/b.txt");
    // Entries below a plain file cannot be removed, so each leaves an error in the order it was met.
    const auto given = urls({tmp / "r/a.txt/x", tmp / "r/a.txt/x/y", tmp / "r/b.txt/z"});
    auto errorPaths = [](const CleaningResult& result) {
        std::vector<std::string> paths;
        for (const auto& error : result.errors) {
            paths.push_back(error.path);
        }
        return paths;
    };
    FileCleaner cleaner;
    EXPECT_EQ(errorPaths(clean(cleaner, given, urls({tmp / "r"}), true).result),
              (std::vector<std::string>{tmp / "r/b.txt/z", tmp / "r/a.txt/x/y", tmp / "r/a.txt/x"}));
    EXPECT_EQ(errorPaths(clean(cleaner, given, urls({tmp / "r"}), false).result),
              (std::vector<std::string>{tmp / "r/a.txt/x", tmp / "r/a.txt/x/y", tmp / "r/b.txt/z"}));
}

TEST(FileCleaner, APermissionFailureIsReportedWithItsPathAndTheRunGoesOn) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to fork a child that drops to an unprivileged user";
    }
    TemporaryDirectory tmp;
    ::chmod(tmp.path().c_str(), 0755);
    std::string root = tmp.makeDirectory("root");
    std::string free = tmp.writeFile("root/free", "x");
    std::string locked = tmp.makeDirectory("root/locked");
    tmp.writeFile("root/locked/inside", "x");
    for (const std::string& path : {root, free, locked}) {
        ASSERT_EQ(::chown(path.c_str(), velmor::testing::unprivilegedUser, velmor::testing::unprivilegedUser),
                  0);
    }
    // "inside" stays root's: the unprivileged user may not empty the folder.
    ASSERT_EQ(::chmod(locked.c_str(), 0555), 0);

    // The routine itself runs in the child, without the queue's threads.
    int status = velmor::testing::runAsUnprivilegedUser([&] {
        velmor::Progress progress(3);
        CleaningResult result = Cleaner::removeItems(urls({locked, free}), {}, false, progress);
        if (result.errors.size() != 1 || result.errors[0].path != locked) {
            return 1;
        }
        return progress.completedUnitCount() == 2 ? 0 : 2;
    });
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(exists(free));
    EXPECT_TRUE(exists(tmp / "root/locked/inside"));
}

TEST(FileCleaner, ResultCodingKeys) {
    CleaningResult result{4096, {ProcessingError{velmor::Error::posix(EACCES), "/x"}}, true};
    std::string text = velmor::coding::toJSON(velmor::coding::encode(result));
    EXPECT_EQ(
        text,
        R"({"reclaimedBytes":4096,"errors":[{"errorCode":13,"errorDomain":"NSPOSIXErrorDomain","path":"/x"}],)"
        R"("cancelled":true})");
    auto decoded = velmor::coding::decode<CleaningResult>(velmor::coding::fromJSON(text));
    EXPECT_EQ(decoded.reclaimedBytes, 4096u);
    EXPECT_TRUE(decoded.cancelled);
    ASSERT_EQ(decoded.errors.size(), 1u);
    EXPECT_EQ(decoded.errors[0].path, "/x");
}

} // namespace
} // namespace sweepkit
