#include "sdk/finder/tree/TreeFileFinderAnalyzer.hpp"

#include "platform/concurrency/Task.hpp"
#include "platform/fs/FileRemover.hpp"
#include "platform/testing/ChildProcess.hpp"
#include "platform/testing/ChildTestRun.hpp"
#include "platform/testing/PrivateMount.hpp"
#include "platform/testing/PrivilegeDrop.hpp"
#include "platform/testing/TemporaryDirectory.hpp"
#include "sdk/filesystem/FileSystemIterator.hpp"
#include "sdk/finder/RecordingLogger.hpp"
#include "sdk/finder/criteria/FileNameCriterion.hpp"
#include "sdk/finder/criteria/NotMatchingCriterion.hpp"
#include "sdk/finder/criteria/OrMatchingCriterion.hpp"
#include "sdk/finder/criteria/StatCriterionFactory.hpp"
#include "sdk/finder/records/CurrentRecordScope.hpp"
#include "sdk/finder/records/RoundedSize.hpp"
#include "sdk/finder/tree/BundleHandler.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <latch>
#include <limits>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace sweepkit {
namespace {

using velmor::URL;
using velmor::testing::TemporaryDirectory;

AnyFileMatchingCriterion named(const std::string& wildcard) {
    return std::make_shared<const FileNameCriterion>(FileNameCriterion::initWithWildcard(wildcard));
}

// The block size the fixture's own file system reports for `path`.
std::int64_t blockOf(const std::string& path) {
    struct ::stat record {};
    EXPECT_EQ(::lstat(path.c_str(), &record), 0) << path;
    return record.st_blksize;
}

std::int64_t rounded(std::int64_t size, std::int64_t block) {
    return (size + block - 1) / block * block;
}

struct Search {
    AnalysisResult result;
    std::vector<std::string> found;
    int processed = 0;
    std::vector<std::string> log;
};

Search search(const std::vector<std::string>& roots, const FileMatchingCriterion& criterion) {
    Search search;
    auto logger = std::make_shared<testing::RecordingLogger>();
    std::vector<URL> urls;
    for (const auto& root : roots) {
        urls.push_back(URL::fileURL(root));
    }
    search.result = TreeFileFinderAnalyzer(logger).analyze(
        urls, criterion, [&](const FileSystemItem& item) { search.found.push_back(item.url.path()); },
        [&] { ++search.processed; });
    search.log = logger->lines();
    return search;
}

const FileSystemNode::Folder& folderAt(const std::vector<FileSystemNode>& nodes, std::size_t index) {
    EXPECT_LT(index, nodes.size());
    EXPECT_NE(nodes.at(index).asFolder(), nullptr) << nodes.at(index).url().path();
    return *nodes.at(index).asFolder();
}

TEST(TreeFileFinderAnalyzer, KeepsMatchesAndTheFoldersOnTheWayWithRoundedSizes) {
    TemporaryDirectory dir;
    dir.writeFile("a/hit.log", "x");
    dir.writeFile("a/miss.txt", std::string(10000, 'x'));
    dir.writeFile("a/b/deep.log", std::string(5000, 'x'));
    dir.writeFile("a/c/miss.txt", "x");
    dir.writeFile("top.log", "");
    const std::int64_t block = blockOf(dir / "a/hit.log");

    auto s = search({dir.path()}, *named("*.log"));
    EXPECT_TRUE(s.result.errors.empty());
    EXPECT_TRUE(s.result.isLastResult);
    EXPECT_FALSE(s.result.cancelled);
    ASSERT_EQ(s.result.nodes.size(), 1u);
    const auto& root = folderAt(s.result.nodes, 0);
    EXPECT_EQ(root.url, URL::fileURL(dir.path()));
    EXPECT_EQ(root.contentSize, block + rounded(5000, block));

    std::set<std::string> items;
    for (const auto& item : s.result.flattenedItems()) {
        items.insert(item.url.path());
    }
    EXPECT_EQ(items, (std::set<std::string>{dir / "a/hit.log", dir / "a/b/deep.log", dir / "top.log"}));
    // The walk's order depends on the directory listing: look the children up by path.
    for (const auto& child : root.children) {
        if (child.url().path() == dir / "a") {
            const auto& a = *child.asFolder();
            EXPECT_EQ(a.contentSize, block + rounded(5000, block)) << "the miss beside the hit adds nothing";
            EXPECT_EQ(a.children.size(), 2u) << "a/c holds no match and vanishes";
        } else {
            EXPECT_TRUE(child.isItem()) << child.url().path();
        }
    }
    EXPECT_EQ(s.found.size(), 3u);
    EXPECT_EQ(s.processed, 5) << "every regular file, matching or not";
    EXPECT_EQ(s.log, std::vector<std::string>{"debug: Starting filesystem traversal with criteria: " +
                                              named("*.log")->description()})
        << "logged once per search";
}

TEST(TreeFileFinderAnalyzer, ARootWithoutMatchesGivesNothingAndRootsKeepTheirOrder) {
    TemporaryDirectory dir;
    dir.writeFile("quiet/a.txt", "x");
    dir.writeFile("second/b.log", "x");
    const std::string file = dir.writeFile("first.log", "xy");

    auto s = search({dir / "quiet", file, dir / "second", dir / "missing"}, *named("*.log"));
    ASSERT_EQ(s.result.nodes.size(), 2u);
    ASSERT_TRUE(s.result.nodes[0].isItem()) << "a matching root file is a root node of its own";
    EXPECT_EQ(s.result.nodes[0].asItem()->url.path(), file);
    EXPECT_EQ(s.result.nodes[0].asItem()->metadata.st_size, 2);
    EXPECT_EQ(folderAt(s.result.nodes, 1).url.path(), dir / "second");
    ASSERT_EQ(s.result.errors.size(), 1u) << "the missing root";
    EXPECT_EQ(s.result.errors[0].path, dir / "missing");
    EXPECT_EQ(s.result.errors[0].error, velmor::Error::posix(ENOENT));

    auto none = search({}, *named("*.log"));
    EXPECT_TRUE(none.result.nodes.empty() && none.result.errors.empty());
    EXPECT_TRUE(none.result.isLastResult);
}

TEST(TreeFileFinderAnalyzer, APackageIsJudgedWholeWithTheSumOfItsContents) {
    TemporaryDirectory dir;
    dir.writeFile("apps/Tool.app/one", "x");
    dir.writeFile("apps/Tool.app/Contents/two", "x");
    dir.writeFile("apps/Tool.app/Contents/Inner.bundle/three.app", "x"); // neither judged nor a package
    dir.writeFile("apps/Other.bundle/four", std::string(9000, 'x'));
    dir.writeFile("apps/plain.app", "x"); // a file, not a folder: no package
    const std::int64_t block = blockOf(dir / "apps/Tool.app/one");
    const std::int64_t packageBlock = blockOf(dir / "apps/Tool.app");

    auto s = search({dir.path()}, *named("*.app"));
    EXPECT_TRUE(s.result.errors.empty());
    ASSERT_EQ(s.result.nodes.size(), 1u);
    const auto& apps = folderAt(folderAt(s.result.nodes, 0).children, 0);
    ASSERT_EQ(apps.children.size(), 2u);
    const FileSystemItem* tool = nullptr;
    for (const auto& child : apps.children) {
        if (child.url().path() == dir / "apps/Tool.app") {
            tool = child.asItem();
        } else {
            EXPECT_EQ(child.url().path(), dir / "apps/plain.app");
        }
    }
    ASSERT_NE(tool, nullptr);
    EXPECT_EQ(tool->metadata.st_size, 3 * block);
    EXPECT_TRUE(S_ISDIR(tool->metadata.st_mode));
    EXPECT_EQ(apps.contentSize, rounded(3 * block, packageBlock) + block)
        << "the other package does not match and does not count";
    EXPECT_EQ(s.processed, 3) << "two packages and the file beside them";
}

TEST(TreeFileFinderAnalyzer, APackageDeeperThanAnyPathCallReachesIsStillOnePackage) {
    TemporaryDirectory dir;
    // Built through descriptors: the package's path is longer than the path calls take.
    const std::string name(200, 'n');
    std::string deepPath = dir / "deep";
    int folder = ::open(dir.path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(::mkdirat(folder, "deep", 0755), 0);
    for (int level = 0; level <= 25; ++level) {
        const std::string next = level == 0 ? "deep" : name;
        int below = ::openat(folder, next.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        ::close(folder);
        folder = below;
        ASSERT_GE(folder, 0);
        ASSERT_EQ(::mkdirat(folder, level == 25 ? "Deep.app" : name.c_str(), 0755), 0);
        if (level > 0) {
            deepPath += "/" + name;
        }
    }
    ASSERT_GT(deepPath.size(), 4096u);
    int package = ::openat(folder, "Deep.app", O_PATH | O_DIRECTORY | O_CLOEXEC);
    ::close(::openat(package, "inside.app", O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
    ::close(package);
    ::close(folder);

    // The package is told from its name and the walk's record alone, whatever its depth.
    velmor::Stat folderRecord{};
    folderRecord.st_mode = S_IFDIR | 0755;
    EXPECT_TRUE(BundleHandler::isPackage(velmor::URL::fileURL(deepPath + "/Deep.app"), folderRecord));

    // The walk either finds the package as one item or reports it with its error; its contents
    // are never judged on their own, and nothing there is dropped silently.
    auto s = search({dir / "deep"}, *named("*.app"));
    const std::string packagePath = deepPath + "/Deep.app";
    for (const auto& found : s.found) {
        EXPECT_EQ(found, packagePath) << "the package's contents are not judged on their own";
    }
    if (s.found.empty()) {
        bool reported = false;
        for (const auto& error : s.result.errors) {
            reported = reported || error.path == packagePath || packagePath.starts_with(error.path + "/");
        }
        EXPECT_TRUE(reported) << "an entry beyond the longest path is reported with its error";
    }
    EXPECT_FALSE(velmor::FileRemover().removeItem(dir / "deep")); // beyond what the fixture's cleanup reaches
}

TEST(TreeFileFinderAnalyzer, AMatchedItemCarriesItsBirthTime) {
    TemporaryDirectory dir;
    std::string file = dir.writeFile("found.log", "x");
    dir.writeFile("other.txt", "x");
    auto now = velmor::Stat::lstatPath(file);
    if (now->st_birthtimespec == velmor::Timespec{}) {
        GTEST_SKIP() << "the file system under /tmp records no birth time";
    }
    std::vector<FileSystemItem> items;
    TreeFileFinderAnalyzer(std::make_shared<testing::RecordingLogger>())
        .analyze(
            {URL::fileURL(dir.path())}, *named("*.log"),
            [&](const FileSystemItem& item) { items.push_back(item); }, [] {});
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].metadata.st_birthtimespec, now->st_birthtimespec);
    EXPECT_EQ(items[0].metadata.st_ino, now->st_ino);
}

TEST(TreeFileFinderAnalyzer, APackageGivenAsRootIsARootItem) {
    TemporaryDirectory dir;
    dir.writeFile("Tool.app/a", "x");
    dir.writeFile("Tool.app/b", "x");
    const std::int64_t block = blockOf(dir / "Tool.app/a");
    auto s = search({dir / "Tool.app"}, *StatCriterionFactory::sizeGreaterThan(block));
    ASSERT_EQ(s.result.nodes.size(), 1u);
    ASSERT_TRUE(s.result.nodes[0].isItem());
    EXPECT_EQ(s.result.nodes[0].asItem()->metadata.st_size, 2 * block);
}

TEST(TreeFileFinderAnalyzer, SymbolicLinksAreNotReported) {
    TemporaryDirectory dir;
    dir.writeFile("real/target.log", "x");
    dir.makeDirectory("links");
    ASSERT_EQ(::symlink((dir / "real/target.log").c_str(), (dir / "links/link.log").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "real").c_str(), (dir / "links/folder.log").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "gone").c_str(), (dir / "links/broken.log").c_str()), 0);
    auto s = search({dir / "links"}, *named("*.log"));
    EXPECT_TRUE(s.result.nodes.empty());
    EXPECT_TRUE(s.result.errors.empty());
    EXPECT_EQ(s.processed, 0);
}

TEST(TreeFileFinderAnalyzer, AnUnreadableDirectoryIsOneErrorWithItsPath) {
    if (::getuid() != 0) {
        GTEST_SKIP() << "needs root to walk as another user";
    }
    // Forked from a process where no earlier test started threads.
    if (!velmor::testing::continuesInFreshProcess()) {
        return;
    }
    TemporaryDirectory dir;
    dir.writeFile("open/hit.log", "x");
    dir.writeFile("closed/hidden.log", "x");
    dir.writeFile("Locked.app/inside", "x");
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod((dir / "closed").c_str(), 0), 0);
    ASSERT_EQ(::chmod((dir / "Locked.app").c_str(), 0), 0);
    const OrMatchingCriterion criterion({named("*.log"), named("*.app")});

    // Root reads everything: the walk runs as an ordinary user in a child process, which reports
    // the first expectation that failed by its exit code.
    int outcome = velmor::testing::runAsUnprivilegedUser([&] {
        auto s = search({dir.path()}, criterion);
        std::set<std::string> errorPaths;
        for (const auto& error : s.result.errors) {
            if (error.error != velmor::Error::posix(EACCES)) {
                return 1;
            }
            errorPaths.insert(error.path);
        }
        if (errorPaths != std::set<std::string>{dir / "closed", dir / "Locked.app"} ||
            s.result.errors.size() != 2) {
            return 2;
        }
        std::set<std::string> items;
        std::int64_t lockedSize = -1;
        for (const auto& item : s.result.flattenedItems()) {
            items.insert(item.url.path());
            if (item.url.path() == dir / "Locked.app") {
                lockedSize = item.metadata.st_size;
            }
        }
        if (items != std::set<std::string>{dir / "open/hit.log", dir / "Locked.app"}) {
            return 3;
        }
        return lockedSize == 0 ? 0 : 4; // an unreadable package is judged with nothing counted
    });
    EXPECT_EQ(outcome, 0);
}

TEST(TreeFileFinderAnalyzer, SizesOfSparseFilesNearTheLargestCountStopThereAndNeverTurnNegative) {
    if (!velmor::testing::continuesInFreshProcess()) {
        return;
    }
    TemporaryDirectory dir;
    const int code = velmor::testing::runInChildProcess([&] {
        // A tmpfs takes files of nearly 2^63 bytes that occupy nothing.
        constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();
        constexpr std::int64_t quarter = std::int64_t{1} << 62;
        if (auto failure = velmor::testing::mountPrivateTmpfs(dir.path()); !failure.empty()) {
            std::fprintf(stderr, "no private tmpfs: %s\n", failure.c_str());
            return 125;
        }
        const std::pair<const char*, std::int64_t> files[] = {
            {"a.img", largest - 100}, // rounding up to whole blocks passes the largest count
            {"deeper/b.img", quarter}, {"deeper/c.img", quarter}, // so does their folder's sum
            {"Huge.app/one", quarter}, {"Huge.app/two", quarter}, // and the package's
        };
        for (const auto& [name, size] : files) {
            const std::string path = dir.writeFile(name, "");
            if (::truncate(path.c_str(), size) != 0) {
                std::fprintf(stderr, "truncate %s: %s\n", path.c_str(), std::strerror(errno));
                return 1;
            }
        }
        auto s = search({dir.path()}, OrMatchingCriterion({named("*.img"), named("*.app")}));
        if (!s.result.errors.empty() || s.result.nodes.size() != 1 || !s.result.nodes[0].asFolder()) {
            return 2;
        }
        const auto& root = *s.result.nodes[0].asFolder();
        if (root.contentSize != largest) {
            return 3;
        }
        int seen = 0;
        for (const auto& child : root.children) {
            const std::string name = child.url().lastPathComponent();
            if (name == "deeper") {
                seen += child.asFolder() && child.asFolder()->contentSize == largest ? 1 : 0;
            } else if (name == "a.img") {
                seen += roundedSize(child.asItem()->metadata) == largest ? 1 : 0;
            } else if (name == "Huge.app") {
                seen += child.asItem()->metadata.st_size == largest ? 1 : 0;
            }
        }
        return seen == 3 ? 0 : 4;
    });
    if (code == 125) {
        GTEST_SKIP() << "could not mount a tmpfs of its own (the reason is printed above)";
    }
    EXPECT_EQ(code, 0) << "1: no sparse file, 2: errors or no root folder, 3: the root's sum, 4: the "
                          "file's, the folder's or the package's size is not the largest count";
}

TEST(TreeFileFinderAnalyzer, ACancelledSearchKeepsTheRootsFinishedBeforeIt) {
    TemporaryDirectory dir;
    dir.writeFile("first/a.log", "x");
    dir.writeFile("second/b.log", "x");
    dir.writeFile("second/c.log", "x");
    dir.writeFile("third/d.log", "x");
    auto criterion = named("*.log");
    std::vector<URL> roots = {URL::fileURL(dir / "first"), URL::fileURL(dir / "second"),
                              URL::fileURL(dir / "third")};

    std::latch ready(1);
    velmor::Task<AnalysisResult> search;
    std::vector<std::string> found;
    search = velmor::Task<AnalysisResult>::start([&] {
        ready.wait();
        return TreeFileFinderAnalyzer(nullptr).analyze(
            roots, *criterion,
            [&](const FileSystemItem& item) {
                found.push_back(item.url.path());
                if (item.url.path().starts_with(dir / "second/")) {
                    search.cancel(); // seen right after this event
                }
            },
            [] {});
    });
    ready.count_down();
    auto result = search.value();
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(found.size(), 2u) << "the walk stops at the first event after the cancellation";
    ASSERT_EQ(result.nodes.size(), 1u) << "the unfinished second root is dropped, the third never read";
    EXPECT_EQ(result.nodes[0].url().path(), dir / "first");
    EXPECT_TRUE(result.errors.empty());
    EXPECT_TRUE(result.isLastResult);

    std::latch cancelled(1);
    auto early = velmor::Task<AnalysisResult>::start([&] {
        cancelled.wait();
        return TreeFileFinderAnalyzer(nullptr).analyze(
            roots, *criterion, [](const FileSystemItem&) { ADD_FAILURE() << "read after cancellation"; },
            [] {});
    });
    early.cancel();
    cancelled.count_down();
    auto nothing = early.value();
    EXPECT_TRUE(nothing.cancelled);
    EXPECT_TRUE(nothing.nodes.empty());
}

// Plays a fixed list of events, for the cases a real walk cannot produce on demand.
class ScriptedIterator : public BaseFilesIterator {
public:
    explicit ScriptedIterator(std::vector<Event> events) : events_(std::move(events)) {}
    std::optional<Event> next() override {
        if (position_ == events_.size()) {
            return std::nullopt;
        }
        return events_[position_++];
    }

private:
    std::vector<Event> events_;
    std::size_t position_ = 0;
};

// The records of the scripted walks: folders, and files of 700 bytes, on 512-byte blocks.
velmor::Stat scriptedDirectory() {
    velmor::Stat directory;
    directory.st_mode = S_IFDIR | 0755;
    directory.st_blksize = 512;
    return directory;
}
velmor::Stat scriptedFile() {
    velmor::Stat file;
    file.st_mode = S_IFREG | 0644;
    file.st_size = 700;
    file.st_blksize = 512;
    return file;
}

TEST(IteratorAnalysis, RecordsFailuresAndIgnoresTheKindsItDoesNotJudge) {
    TemporaryDirectory dir; // the package test reads the folder's type from disk
    dir.makeDirectory("X.app");
    const std::string r = dir.path();
    const velmor::Stat directory = scriptedDirectory();
    const velmor::Stat file = scriptedFile();
    const auto failure = velmor::Error::posix(EIO);
    ScriptedIterator iterator({
        Event::leaveDirectory(r, directory),
        Event::enterDirectory(r, directory, true),
        Event::cycle(r + "/loop"),
        Event::dotFile(r + "/.", directory, true),
        Event::fileWithNoStat(r + "/nostat"),
        Event::symlink(r + "/link", file, true),
        Event::brokenSymlink(r + "/broken", file, true),
        Event::fileError(r + "/bad", failure),
        Event::error(r + "/worse", failure),
        Event::unknownType(r + "/socket", file, true),
        Event::enterDirectory(r + "/X.app", directory, false),
        Event::file(r + "/X.app/f", file, true),
        Event::unreadableDirectory(r + "/X.app", failure),
        Event::leaveDirectory(r, directory),
    });
    auto everything = StatCriterionFactory::sizeGreaterThan(-1);
    std::vector<std::string> found;
    int processed = 0;
    FileFinderAnalyzer::FoundItemCallback onFound = [&](const FileSystemItem& item) {
        found.push_back(item.url.path());
    };
    FileFinderAnalyzer::ProcessedItemCallback onProcessed = [&] { ++processed; };
    IteratorAnalysis analysis(iterator, *everything, onFound, onProcessed);
    analysis.run();

    ASSERT_EQ(analysis.errors.size(), 4u);
    EXPECT_EQ(analysis.errors[0].path, "");
    EXPECT_EQ(analysis.errors[0].error, UnexpectedDirectoryLeave().toError());
    EXPECT_EQ(analysis.errors[0].error.domain(), "SweepKit.TreeFileFinderAnalyzer.UnexpectedDirectoryLeave");
    EXPECT_EQ(analysis.errors[1].path, r + "/bad");
    EXPECT_EQ(analysis.errors[2].path, r + "/worse");
    EXPECT_EQ(analysis.errors[3].path, r + "/X.app");
    EXPECT_EQ(analysis.errors[3].error, failure);
    EXPECT_EQ(found, (std::vector<std::string>{r + "/socket", r + "/X.app"}));
    EXPECT_EQ(processed, 2);
    EXPECT_TRUE(analysis.currentFolderNodeStack.empty());
    EXPECT_FALSE(analysis.bundleHandler.currentBundle);

    ASSERT_EQ(analysis.rootNodes.size(), 1u);
    const auto& root = *analysis.rootNodes[0].asFolder();
    EXPECT_EQ(root.contentSize, 1024) << "the socket's rounded size; the unreadable package counts 0";
    ASSERT_EQ(root.children.size(), 2u);
    EXPECT_EQ(root.children[1].asItem()->metadata.st_size, 0);
    EXPECT_FALSE(root.children[1].asItem()->hasDeletePermission);
}

TEST(IteratorAnalysis, AWalkGivenUpKeepsWhatItJudgedAndItsError) {
    const std::string r = "/walked";
    const velmor::Stat directory = scriptedDirectory();
    const velmor::Stat file = scriptedFile();
    const auto givenUp = velmor::Error::posix(ENOENT);
    // The walk stops inside r/a/b, the way fts does when a folder is moved from under it.
    ScriptedIterator iterator({
        Event::enterDirectory(r, directory, true),
        Event::file(r + "/top.log", file, true),
        Event::enterDirectory(r + "/a", directory, true),
        Event::enterDirectory(r + "/a/b", directory, true),
        Event::file(r + "/a/b/deep.log", file, true),
        Event::error(r, givenUp),
    });
    auto everything = StatCriterionFactory::sizeGreaterThan(-1);
    FileFinderAnalyzer::FoundItemCallback onFound;
    FileFinderAnalyzer::ProcessedItemCallback onProcessed;
    IteratorAnalysis analysis(iterator, *everything, onFound, onProcessed);
    analysis.run();

    ASSERT_EQ(analysis.errors.size(), 1u);
    EXPECT_EQ(analysis.errors[0].path, r);
    EXPECT_EQ(analysis.errors[0].error, givenUp);
    EXPECT_TRUE(analysis.currentFolderNodeStack.empty());
    ASSERT_EQ(analysis.rootNodes.size(), 1u);
    const auto& root = *analysis.rootNodes[0].asFolder();
    EXPECT_EQ(analysis.rootNodes[0].url().path(), r);
    EXPECT_EQ(root.contentSize, 2048);
    ASSERT_EQ(root.children.size(), 2u);
    EXPECT_EQ(root.children[0].url().path(), r + "/top.log");
    const auto& a = *root.children[1].asFolder();
    EXPECT_EQ(a.contentSize, 1024);
    ASSERT_EQ(a.children.size(), 1u);
    EXPECT_EQ(a.children[0].asFolder()->children.at(0).url().path(), r + "/a/b/deep.log");
}

// A criterion whose engine fails on names containing "fail".
class FailingCriterion : public FileMatchingCriterion {
public:
    bool matches(const FileSystemItem& item) const override {
        if (item.url.path().find("fail") != std::string::npos) {
            throw velmor::ErrorException(velmor::Error("test.matching", -47));
        }
        return true;
    }
    velmor::metadata::PredicatePointer spotlightPredicate() const override {
        throw std::logic_error("unused");
    }
    bool includes(const FileMatchingCriterion&) const override { return false; }
    std::string description() const override { return "FailingCriterion"; }
};

TEST(IteratorAnalysis, ACriterionThatCannotAnswerIsAnErrorForTheEntry) {
    const velmor::Stat directory = scriptedDirectory();
    const velmor::Stat file = scriptedFile();
    FailingCriterion failing;
    NotMatchingCriterion negated(std::make_shared<const FailingCriterion>());
    for (const FileMatchingCriterion* criterion : {static_cast<const FileMatchingCriterion*>(&failing),
                                                   static_cast<const FileMatchingCriterion*>(&negated)}) {
        ScriptedIterator iterator({
            Event::enterDirectory("/r", directory, true),
            Event::file("/r/fail.log", file, true),
            Event::leaveDirectory("/r", directory),
        });
        std::vector<std::string> found;
        FileFinderAnalyzer::FoundItemCallback onFound = [&](const FileSystemItem& item) {
            found.push_back(item.url.path());
        };
        FileFinderAnalyzer::ProcessedItemCallback onProcessed;
        IteratorAnalysis analysis(iterator, *criterion, onFound, onProcessed);
        analysis.run();
        EXPECT_TRUE(found.empty()) << criterion->description();
        EXPECT_TRUE(analysis.rootNodes.empty()) << criterion->description();
        ASSERT_EQ(analysis.errors.size(), 1u) << criterion->description();
        EXPECT_EQ(analysis.errors[0].path, "/r/fail.log");
        EXPECT_EQ(analysis.errors[0].error, velmor::Error("test.matching", -47));
    }
}

// Notes, for every entry judged, whether the entry came with a record read just now.
class CurrentRecordSpy : public FileMatchingCriterion {
public:
    bool matches(const FileSystemItem& item) const override {
        judged[item.url.path()] = CurrentRecordScope::holds(item);
        return true;
    }
    velmor::metadata::PredicatePointer spotlightPredicate() const override {
        throw std::logic_error("unused");
    }
    bool includes(const FileMatchingCriterion&) const override { return false; }
    std::string description() const override { return "CurrentRecordSpy"; }

    mutable std::map<std::string, bool> judged;
};

TEST(IteratorAnalysis, OnlyAnEntryWhoseRecordAPhysicalWalkJustReadIsJudgedAsCurrent) {
    TemporaryDirectory dir;
    const std::string r = dir.path();
    const std::string file = dir.writeFile("f", "x");
    ASSERT_EQ(::mkfifo((r + "/fifo").c_str(), 0600), 0);
    dir.makeDirectory("X.app");
    dir.writeFile("X.app/inside", "x");
    ASSERT_EQ(::symlink("f", (r + "/link").c_str()), 0);
    FileFinderAnalyzer::FoundItemCallback onFound;
    FileFinderAnalyzer::ProcessedItemCallback onProcessed;

    struct Case {
        const char* name;
        std::string root;
        Options options;
        std::map<std::string, bool> judged;
    };
    const Case cases[] = {
        // The package is judged when the walk leaves it, with the record read when it entered.
        {"physical walk", r, Options::physical, {{file, true}, {r + "/fifo", true}, {r + "/X.app", false}}},
        {"walk following links", r, Options::logical,
         {{file, false}, {r + "/fifo", false}, {r + "/X.app", false}, {r + "/link", false}}},
        {"root given as a followed link", r + "/link", Options::physical.union_(Options::commandLineFollow),
         {{r + "/link", false}}},
        {"root given as a file", file, Options::physical, {{file, true}}},
    };
    for (const auto& c : cases) {
        CurrentRecordSpy spy;
        FileSystemIterator iterator(URL::fileURL(c.root), c.options, ::getuid(), {});
        IteratorAnalysis(iterator, spy, onFound, onProcessed).run();
        EXPECT_EQ(spy.judged, c.judged) << c.name;
    }

    CurrentRecordSpy spy;
    ScriptedIterator scripted({Event::file(file, scriptedFile(), true)});
    IteratorAnalysis(scripted, spy, onFound, onProcessed).run();
    EXPECT_EQ(spy.judged, (std::map<std::string, bool>{{file, false}}))
        << "a scripted record may be anything";
    EXPECT_FALSE(CurrentRecordScope::holds(FileSystemItem{URL::fileURL(file), {}, true}));
}

TEST(BundleHandler, FinishesOnlyTheCurrentPackage) {
    BundleHandler handler;
    EXPECT_FALSE(handler.finishBundle(URL::fileURL("/r/X.app"), 5));
    velmor::Stat stat;
    stat.st_size = 64;
    stat.st_ino = 9;
    handler.currentBundle = BundleHandler::BundleInfo{URL::fileURL("/r/X.app"), stat, true};
    EXPECT_FALSE(handler.finishBundle(URL::fileURL("/r/X.app/Contents"), 5));
    EXPECT_FALSE(handler.finishBundle(URL::fileURL("/r/X.app/"), 5)) << "URLs compare as they were made";
    ASSERT_TRUE(handler.currentBundle);
    auto finished = handler.finishBundle(URL::fileURL("/r/X.app"), 8192);
    ASSERT_TRUE(finished);
    EXPECT_EQ(finished->stat.st_size, 8192);
    EXPECT_EQ(finished->stat.st_ino, 9u);
    EXPECT_FALSE(handler.currentBundle);
}

} // namespace
} // namespace sweepkit
