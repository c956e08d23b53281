#include "sdk/duplicates/DuplicateFinder.hpp"

#include "platform/testing/InfoPlist.hpp"
#include "platform/testing/PrivateMount.hpp"
#include "platform/testing/TemporaryDirectory.hpp"
#include "sdk/duplicates/pipeline/GroupingTestSupport.hpp"
#include "sdk/filesystem/FileSystemIterator.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace sweepkit {
namespace {

using velmor::URL;
using velmor::testing::TemporaryDirectory;

const DuplicateFinderSettings allSkipsOff(false, false, false, {});

// What one run handed to its callbacks.
struct FinderRun {
    std::vector<std::shared_ptr<DuplicateFinderResult>> partials;
    std::shared_ptr<DuplicateFinderResult> final;
    int completions = 0;
    std::shared_ptr<velmor::Progress> progress;
};

// Collects a run's callbacks and waits for its completion.
class RunRecorder {
public:
    DuplicateFinderResultHandler progressHandler() {
        return [this](std::shared_ptr<DuplicateFinderResult> partial) {
            std::lock_guard lock(mutex_);
            run_.partials.push_back(std::move(partial));
        };
    }
    DuplicateFinderResultHandler completionHandler() {
        return [this](std::shared_ptr<DuplicateFinderResult> result) {
            std::lock_guard lock(mutex_);
            run_.final = std::move(result);
            ++run_.completions;
            completed_.notify_all();
        };
    }
    bool isCompleted() {
        std::lock_guard lock(mutex_);
        return run_.completions > 0;
    }
    // Waits for the completion; a run that never completes fails the test instead of hanging it.
    FinderRun wait(std::shared_ptr<velmor::Progress> progress) {
        std::unique_lock lock(mutex_);
        const bool done =
            completed_.wait_for(lock, std::chrono::minutes(2), [&] { return run_.completions > 0; });
        EXPECT_TRUE(done) << "the run never completed";
        run_.progress = std::move(progress);
        return run_;
    }

private:
    std::mutex mutex_;
    std::condition_variable completed_;
    FinderRun run_;
};

FinderRun runFinder(const DuplicateFinderSettings& settings, std::vector<URL> roots) {
    RunRecorder recorder;
    DuplicateFinder finder(settings);
    auto progress =
        finder.findInURLs(std::move(roots), recorder.progressHandler(), recorder.completionHandler());
    return recorder.wait(progress);
}

FinderRun runFinder(const DuplicateFinderSettings& settings, const TemporaryDirectory& root) {
    return runFinder(settings, std::vector{URL::fileURL(root.path())});
}

// Each group of the result as its members' paths below `root`, "a/x b/x", sorted since the walk
// order is the directories' own; the groups sorted.
std::vector<std::string> describe(const std::string& root, const DuplicateFinderResult& result) {
    std::vector<std::string> lines;
    for (const auto& group : result.groups()) {
        std::vector<std::string> members;
        for (const auto& url : group.urls()) {
            members.push_back(url.path().substr(root.size() + 1));
        }
        std::sort(members.begin(), members.end());
        std::string line;
        for (const auto& member : members) {
            line += (line.empty() ? "" : " ") + member;
        }
        lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

// A run on the calling thread, as the finder makes it, with the process's own ids.
std::shared_ptr<DuplicateFinderResult> analyseHere(const DuplicateFinderSettings& settings,
                                                   const std::string& root) {
    std::vector<std::unique_ptr<BaseFilesIterator>> iterators;
    iterators.push_back(std::make_unique<FileSystemIterator>(URL::fileURL(root),
                                                             Options{Options::physical, Options::crossDevice},
                                                             ::getuid(), std::vector<std::uint32_t>{}));
    std::shared_ptr<DuplicateFinderResult> result;
    const DuplicateFinderAnalyser analyser{settings, std::make_shared<pipeline::testing::CountingProbe>(),
                                           [](auto) {}, [&](auto final) { result = std::move(final); },
                                           nullptr};
    analyser.analyse(std::move(iterators));
    return result;
}

TEST(DuplicateFinder, FindsCopiesAcrossRootsAndReportsEachGrowingGroup) {
    TemporaryDirectory one;
    TemporaryDirectory two;
    one.writeFile("a/x", "same contents");
    two.writeFile("b/x", "same contents");
    one.writeFile("a/other", "same length!!");
    const FinderRun first = runFinder(allSkipsOff, {URL::fileURL(one.path()), URL::fileURL(two.path())});
    ASSERT_EQ(first.final->duplicatesByHash.size(), 1U);
    EXPECT_EQ(first.final->groups()[0].urls(),
              (std::vector{URL::fileURL(one / "a/x"), URL::fileURL(two / "b/x")}));
    EXPECT_TRUE(first.final->isLastResult);
    EXPECT_FALSE(first.final->cancelled);
    EXPECT_EQ(first.completions, 1);

    two.writeFile("x-again", "same contents");
    const FinderRun second = runFinder(allSkipsOff, {URL::fileURL(one.path()), URL::fileURL(two.path())});
    ASSERT_EQ(second.partials.size(), 2U);
    for (const auto& partial : second.partials) {
        EXPECT_EQ(partial->duplicatesByHash.size(), 1U);
        EXPECT_FALSE(partial->isLastResult);
        EXPECT_FALSE(partial->cancelled);
        EXPECT_TRUE(partial->errors.empty());
    }
    const auto& growing = second.partials[0]->duplicatesByHash.begin()->second;
    const auto& grown = second.partials[1]->duplicatesByHash.begin()->second;
    EXPECT_EQ(growing.id, grown.id);
    EXPECT_EQ(growing.items.size(), 2U);
    EXPECT_EQ(grown.items.size(), 3U);
    ASSERT_EQ(second.final->duplicatesByHash.size(), 1U);
    EXPECT_EQ(second.final->duplicatesByHash.begin()->second.items.size(), 3U);

    // One unit of each count per event, whatever its kind.
    EXPECT_GT(second.progress->totalUnitCount(), 0);
    EXPECT_EQ(second.progress->totalUnitCount(), second.progress->completedUnitCount());
}

TEST(DuplicateFinder, GroupsDuplicateFoldersAtTheEnd) {
    TemporaryDirectory root;
    for (const char* file : {"A/x", "B/x", "A/y", "B/y"}) {
        root.writeFile(file, std::string(file + 2) + " contents");
    }
    const FinderRun run = runFinder(allSkipsOff, root);
    EXPECT_EQ(describe(root.path(), *run.final), (std::vector<std::string>{"A B"}));
    EXPECT_EQ(run.partials.size(), 2U);
}

TEST(DuplicateFinder, WithoutRootsCompletesEmpty) {
    const FinderRun run = runFinder(allSkipsOff, std::vector<URL>{});
    EXPECT_EQ(run.completions, 1);
    EXPECT_TRUE(run.final->duplicatesByHash.empty());
    EXPECT_TRUE(run.final->isLastResult);
    EXPECT_FALSE(run.final->cancelled);
}

// A run of a finder destroyed before the run starts, cancelled first when `cancel` says so.
FinderRun runAfterTheFinderIsGone(const TemporaryDirectory& root, bool cancel) {
    RunRecorder recorder;
    std::promise<void> gate;
    std::shared_ptr<velmor::Progress> progress;
    {
        DuplicateFinder finder(allSkipsOff);
        finder.queue().async([opened = gate.get_future().share()] { opened.wait(); });
        progress =
            finder.find(URL::fileURL(root.path()), recorder.progressHandler(), recorder.completionHandler());
        if (cancel) {
            progress->cancel();
        }
    }
    gate.set_value();
    return recorder.wait(progress);
}

TEST(DuplicateFinder, ARunOutlivesItsFinderAndACancelBeforeItStartsFindsAndCountsNothing) {
    TemporaryDirectory root;
    root.writeFile("a", "copy");
    root.writeFile("b", "copy");

    const FinderRun completed = runAfterTheFinderIsGone(root, false);
    EXPECT_EQ(completed.completions, 1);
    EXPECT_FALSE(completed.final->cancelled);
    EXPECT_EQ(describe(root.path(), *completed.final), (std::vector<std::string>{"a b"}));

    const FinderRun cancelled = runAfterTheFinderIsGone(root, true);
    EXPECT_EQ(cancelled.completions, 1);
    EXPECT_TRUE(cancelled.final->cancelled);
    EXPECT_TRUE(cancelled.final->isLastResult);
    EXPECT_TRUE(cancelled.final->duplicatesByHash.empty());
    EXPECT_TRUE(cancelled.partials.empty());
    EXPECT_EQ(cancelled.progress->totalUnitCount(), 0);
}

TEST(DuplicateFinder, SettingsDecideWhatIsWalkedAndBundlesAreNeverEntered) {
    TemporaryDirectory root;
    root.writeFile(".hidden-a", "hidden copy");
    root.writeFile(".hidden-b", "hidden copy");
    root.writeFile(".folder/inner", "inner copy");
    root.writeFile("visible/inner", "inner copy");
    root.writeFile("skipme/deep", "deep copy");
    root.writeFile("visible/deep", "deep copy");
    for (const char* bundle : {"One/X.app", "Two/X.app"}) {
        root.writeFile(
            std::string(bundle) + "/Contents/Info.plist",
            velmor::testing::infoPlistText("<key>CFBundleIdentifier</key><string>com.example.x</string>"
                                           "<key>CFBundleVersion</key><string>7</string>"));
        root.writeFile(std::string(bundle) + "/Contents/payload", "bundle payload");
    }
    root.writeFile("loose/payload", "bundle payload");
    // One and Two hold nothing but their bundles: one identity must not make them match as folders.

    struct Case {
        const char* name;
        DuplicateFinderSettings settings;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"all skips off",
         allSkipsOff,
         {".folder/inner visible/inner", ".hidden-a .hidden-b", "One/X.app Two/X.app",
          "skipme/deep visible/deep"}},
        {"hidden files skipped",
         DuplicateFinderSettings(true, false, false, {}),
         {".folder/inner visible/inner", "One/X.app Two/X.app", "skipme/deep visible/deep"}},
        {"hidden folders skipped",
         DuplicateFinderSettings(false, true, false, {}),
         {".hidden-a .hidden-b", "One/X.app Two/X.app", "skipme/deep visible/deep"}},
        {"a pattern skipped",
         DuplicateFinderSettings(false, false, false, {"skipme"}),
         {".folder/inner visible/inner", ".hidden-a .hidden-b", "One/X.app Two/X.app"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const FinderRun run = runFinder(c.settings, root);
        EXPECT_EQ(describe(root.path(), *run.final), c.expected);
        for (const auto& error : run.final->errors) {
            ADD_FAILURE() << error.path << ": " << error.error.description();
        }
        for (const auto& partial : run.partials) {
            for (const auto& item : partial->duplicatesByHash.begin()->second.items) {
                EXPECT_EQ(item.path.find("X.app/"), std::string::npos) << "entered " << item.path;
            }
        }
    }
}

TEST(DuplicateFinder, EverySpellingOfARootFindsTheSameGroupsWithHiddenFoldersSkipped) {
    TemporaryDirectory root;
    const std::string t = root.makeDirectory("t");
    root.writeFile("t/one/copy", "copy");
    root.writeFile("t/two/copy", "copy");
    root.writeFile("t/one/unique", "unique");
    root.writeFile("t/.hidden/copy", "copy");
    root.makeDirectory("t/sub");

    // A relative spelling is taken against the working directory when its URL is made; the
    // directory is restored at once, before anything else runs.
    auto relativeToT = [&](const char* spelling) {
        const auto before = std::filesystem::current_path();
        std::filesystem::current_path(t);
        URL url = URL::fileURL(spelling);
        std::filesystem::current_path(before);
        return url;
    };
    const std::pair<const char*, URL> spellings[] = {
        {".", relativeToT(".")},
        {"./", relativeToT("./")},
        {"t/.", URL::fileURL(root / "t/.")},
        {"t/./", URL::fileURL(root / "t/./")},
        {"t/sub/..", URL::fileURL(root / "t/sub/..")},
        {"t/sub/../.", URL::fileURL(root / "t/sub/../.")},
    };
    for (const auto& [spelling, url] : spellings) {
        SCOPED_TRACE(spelling);
        const FinderRun run = runFinder(DuplicateFinderSettings(false, true, false, {}), std::vector{url});
        EXPECT_EQ(describe(t, *run.final), (std::vector<std::string>{"one/copy two/copy"}));
        EXPECT_TRUE(run.final->errors.empty());
    }
}

TEST(DuplicateFinder, ARootIsWhatTheCallerNames) {
    TemporaryDirectory root;
    const std::string real = root.makeDirectory("real");
    root.writeFile("real/one/copy", "copy");
    root.writeFile("real/two/copy", "copy");
    root.writeFile("real/one/unique", "unique");
    std::filesystem::create_directory_symlink(real, root / "link");
    // Links below a root that is itself a link are still not followed.
    std::filesystem::create_directory_symlink(root / "real/one", root / "real/three");
    root.writeFile("file", "x");
    std::filesystem::create_symlink(root / "missing", root / "dangling");
    std::filesystem::create_symlink(root / "loop", root / "loop");

    for (const char* spelling : {"link", "link/", "link/.", "link/./"}) {
        SCOPED_TRACE(spelling);
        const FinderRun run = runFinder(allSkipsOff, std::vector{URL::fileURL(root / spelling)});
        EXPECT_EQ(describe(root / "link", *run.final), (std::vector<std::string>{"one/copy two/copy"}));
        EXPECT_TRUE(run.final->errors.empty());
    }

    struct Unwalkable {
        const char* spelling;
        const char* named;
        int code;
    };
    const Unwalkable unwalkable[] = {
        {"dangling", "dangling", ENOENT}, {"dangling/.", "dangling", ENOENT}, {"loop", "loop", ELOOP},
        {"missing", "missing", ENOENT},   {"file/x", "file/x", ENOTDIR},
    };
    for (const auto& [spelling, named, code] : unwalkable) {
        SCOPED_TRACE(spelling);
        const FinderRun run = runFinder(allSkipsOff, std::vector{URL::fileURL(root / spelling)});
        EXPECT_TRUE(run.final->duplicatesByHash.empty());
        ASSERT_EQ(run.final->errors.size(), 1u);
        EXPECT_EQ(run.final->errors[0].path, root / named);
        EXPECT_EQ(run.final->errors[0].error.code(), code) << run.final->errors[0].error.description();
    }
}

TEST(DuplicateFinder, LinksAreNotFollowed) {
    TemporaryDirectory root;
    TemporaryDirectory outside;
    root.writeFile("a", "linked copy");
    outside.writeFile("folder/b", "linked copy");
    std::filesystem::create_directory_symlink(outside / "folder", root / "folder-link");
    std::filesystem::create_symlink(root / "a", root / "file-link");
    const FinderRun run = runFinder(allSkipsOff, root);
    EXPECT_TRUE(run.final->duplicatesByHash.empty());
    EXPECT_TRUE(run.final->errors.empty());
}

TEST(DuplicateFinder, AnUnreadableFolderIsOneErrorAndItsSiblingsAreWalked) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to drop privileges so that a folder is unreadable";
    }
    TemporaryDirectory root;
    root.writeFile("ok/a", "sibling copy");
    root.writeFile("ok/b", "sibling copy");
    root.writeFile("locked/c", "sibling copy");
    ::chmod(root.path().c_str(), 0755);
    ::chmod((root / "ok").c_str(), 0755);
    ::chmod((root / "ok/a").c_str(), 0644);
    ::chmod((root / "ok/b").c_str(), 0644);
    ::chmod((root / "locked").c_str(), 0);
    const auto text = pipeline::testing::runUnprivileged([&] {
        const auto result = analyseHere(allSkipsOff, root.path());
        std::string text;
        for (const auto& error : result->errors) {
            text += "error " + error.path.substr(root.path().size() + 1) + "\n";
        }
        for (const auto& line : describe(root.path(), *result)) {
            text += "group " + line + "\n";
        }
        return text;
    });
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, "error locked\ngroup ok/a ok/b\n");
}

TEST(DuplicateFinder, AFileSystemMountedBelowARootIsNotEntered) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to mount a file system below the root";
    }
    TemporaryDirectory root;
    root.writeFile("a", "mounted copy");
    root.makeDirectory("mounted");
    // The mount lives in a namespace of the child's own, and goes with it.
    const int cannotMount = 77;
    const pid_t child = ::fork();
    if (child == 0) {
        if (!velmor::testing::mountPrivateTmpfs(root / "mounted").empty()) {
            ::_exit(cannotMount);
        }
        root.writeFile("mounted/b", "mounted copy");
        const auto result = analyseHere(allSkipsOff, root.path());
        ::_exit(result->duplicatesByHash.empty() && result->errors.empty() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == cannotMount) {
        GTEST_SKIP() << "cannot mount a tmpfs in a mount namespace of its own here";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the mounted copy was walked, or the walk failed";
}

TEST(DuplicateFinder, ACancelEndsALargeDigestPromptly) {
    TemporaryDirectory root;
    // Sparse files, equal in their leading bytes and different in the last: only a whole-file
    // digest tells them apart, and it would read for minutes.
    constexpr off_t size = off_t{64} << 30;
    for (const char* name : {"big-a", "big-b"}) {
        const std::string path = root.writeFile(name);
        if (::truncate(path.c_str(), size) != 0) {
            GTEST_SKIP() << "cannot make a sparse file of 64 GiB here: " << std::strerror(errno);
        }
    }
    {
        const int descriptor = ::open((root / "big-b").c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(descriptor, 0);
        ASSERT_EQ(::pwrite(descriptor, "x", 1, size - 1), 1);
        ::close(descriptor);
    }
    RunRecorder recorder;
    DuplicateFinder finder(allSkipsOff);
    auto progress =
        finder.find(URL::fileURL(root.path()), recorder.progressHandler(), recorder.completionHandler());
    // Digesting starts with the second file; wait until the walk is there, then cancel.
    while (progress->totalUnitCount() < 3 && !recorder.isCompleted()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    progress->cancel();
    const FinderRun run = recorder.wait(progress);
    EXPECT_TRUE(run.final->cancelled);
    EXPECT_TRUE(run.final->errors.empty());
    EXPECT_TRUE(run.final->duplicatesByHash.empty());
}

// Hands out a fixed list of events.
class ScriptedIterator : public BaseFilesIterator {
public:
    explicit ScriptedIterator(std::vector<Event> events, bool* closed = nullptr)
        : events_(std::move(events)), closed_(closed) {}
    ~ScriptedIterator() override {
        if (closed_ != nullptr) {
            *closed_ = true;
        }
    }
    std::optional<Event> next() override {
        if (next_ == events_.size()) {
            return std::nullopt;
        }
        return events_[next_++];
    }

private:
    std::vector<Event> events_;
    std::size_t next_ = 0;
    bool* closed_;
};

// A file removed after it was listed fails as root too.
TEST(DuplicateFinderAnalyser, RecordsEachFailureOnceUnderTheFileThatFailed) {
    TemporaryDirectory root;
    auto goneFile = [&](const std::string& name) {
        const Event event = pipeline::testing::listedFile(root.writeFile(name, "ten bytes!"));
        ::unlink(event.path().c_str());
        return event;
    };
    const Event present = pipeline::testing::listedFile(root.writeFile("present", "ten bytes!"));
    const Event walkError = Event::error("/walked", velmor::Error::posix(EIO));
    struct Case {
        const char* name;
        std::vector<Event> events;
        std::vector<std::string> errorPaths;
    };
    const Case cases[] = {
        // The held file fails when the second one of its size arrives.
        {"the held file fails", {goneFile("gone"), present, walkError}, {root / "gone", "/walked"}},
        // The held one is tried when the second fails, though no file of their size follows.
        {"both files of one size fail",
         {goneFile("gone1"), goneFile("gone2"), walkError},
         {root / "gone2", root / "gone1", "/walked"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::unique_ptr<BaseFilesIterator>> iterators;
        iterators.push_back(std::make_unique<ScriptedIterator>(c.events));
        std::shared_ptr<DuplicateFinderResult> result;
        const DuplicateFinderAnalyser analyser{
            allSkipsOff, std::make_shared<pipeline::testing::CountingProbe>(), [](auto) {},
            [&](auto final) { result = std::move(final); }, nullptr};
        analyser.analyse(std::move(iterators));
        std::vector<std::string> paths;
        for (const auto& error : result->errors) {
            paths.push_back(error.path);
        }
        EXPECT_EQ(paths, c.errorPaths);
        EXPECT_TRUE(result->duplicatesByHash.empty());
    }
}

// A walk of many folders of files of few sizes: copies, files equal in their leading bytes only,
// files gone since they were listed, and in each folder a file alone of its size.
struct ManyFilesWalk {
    std::vector<Event> events;
    std::vector<std::string> folders;
    std::vector<std::string> aloneOfTheirSize;

    explicit ManyFilesWalk(const TemporaryDirectory& root) {
        std::uint64_t state = 12345;
        auto random = [&] {
            state = state * 6364136223846793005ull + 1442695040888963407ull;
            return state >> 33;
        };
        std::vector<std::string> made;
        std::vector<std::string> gone;
        for (int folder = 0; folder < 30; ++folder) {
            const std::string name = "d" + std::to_string(folder);
            folders.push_back(root.makeDirectory(name));
            for (int file = 0; file < 40; ++file) {
                std::string contents;
                const auto kind = random() % 5;
                if (kind == 0 && !made.empty()) {
                    contents = made[random() % made.size()];
                } else if (kind == 1) {
                    contents = std::string(4000, 'p') +
                               std::string(500 + random() % 3, static_cast<char>('a' + random() % 3));
                } else {
                    contents = std::string(1 + random() % 40, static_cast<char>('a' + random() % 4));
                }
                made.push_back(contents);
                const std::string path = root.writeFile(name + "/f" + std::to_string(file), contents);
                if (random() % 23 == 0) {
                    gone.push_back(path);
                }
            }
            aloneOfTheirSize.push_back(
                root.writeFile(name + "/alone", std::string(100000 + static_cast<std::size_t>(folder), 'z')));
        }
        FileSystemIterator walk(URL::fileURL(root.path()), Options{Options::physical, Options::crossDevice},
                                ::getuid(), {});
        while (auto event = walk.next()) {
            events.push_back(std::move(*event));
        }
        for (const std::string& path : gone) {
            ::unlink(path.c_str());
        }
    }
};

// How often each file below the watched folders was opened while it lives. Closes are watched
// too, so that two opens of one file in a row are not merged into one event.
class OpenedFiles {
public:
    explicit OpenedFiles(const std::vector<std::string>& folders)
        : descriptor_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        for (const std::string& folder : folders) {
            folders_[::inotify_add_watch(descriptor_, folder.c_str(), IN_OPEN | IN_CLOSE_NOWRITE)] = folder;
        }
    }
    ~OpenedFiles() { ::close(descriptor_); }

    std::map<std::string, int> take() {
        std::map<std::string, int> opened;
        alignas(inotify_event) char buffer[64 * 1024];
        for (ssize_t count; (count = ::read(descriptor_, buffer, sizeof buffer)) > 0;) {
            for (char* at = buffer; at < buffer + count;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                if (event->len > 0 && (event->mask & IN_OPEN) != 0) {
                    ++opened[folders_[event->wd] + "/" + event->name];
                }
                at += sizeof(inotify_event) + event->len;
            }
        }
        return opened;
    }

private:
    int descriptor_;
    std::map<int, std::string> folders_;
};

// What a run answered, in order: each group as it grew, and each failure's path.
struct Answers {
    std::vector<std::string> groups;
    std::vector<std::string> errors;
    friend bool operator==(const Answers&, const Answers&) = default;
};

std::string members(const pipeline::DuplicateGroup& group) {
    std::vector<std::string> paths;
    for (const auto& item : group.items) {
        paths.push_back(item.path);
    }
    std::sort(paths.begin(), paths.end());
    std::string line;
    for (const auto& path : paths) {
        line += path + " ";
    }
    return line;
}

// The digests made beforehand, side by side, change nothing: the answers, their order and their
// failures are those of a pipeline fed one event at a time, and no file is read more often than
// the latter reads it, so none alone of its size. The walk is handed over as two roots.
TEST(DuplicateFinderAnalyser, DigestsMadeBeforehandChangeNoAnswerAndReadNoMore) {
    TemporaryDirectory root;
    const ManyFilesWalk walk(root);
    const auto middle = walk.events.begin() + static_cast<std::ptrdiff_t>(walk.events.size() / 2);
    const DuplicateFinderAnalyser oneByOne{allSkipsOff, std::make_shared<pipeline::testing::CountingProbe>(),
                                           [](auto) {}, [](auto) {}, nullptr};
    Answers expected;
    std::map<std::string, int> expectedOpened;
    {
        OpenedFiles opened(walk.folders);
        const pipeline::AnyPipelineNode pipeline = oneByOne.makePipeline();
        for (const Event& event : walk.events) {
            const auto answer = pipeline->process(event);
            if (answer.group() != nullptr) {
                expected.groups.push_back(members(*answer.group()));
            }
            for (const auto& error : answer.errors()) {
                const std::string* path = error.stringValue(velmor::Error::filePathKey);
                expected.errors.push_back(path != nullptr ? *path : event.path());
            }
        }
        expectedOpened = opened.take();
    }
    ASSERT_GT(expected.groups.size(), 100u);
    ASSERT_GT(expected.errors.size(), 10u);

    Answers answers;
    std::map<std::string, int> opened;
    {
        OpenedFiles watch(walk.folders);
        std::vector<std::unique_ptr<BaseFilesIterator>> iterators;
        iterators.push_back(
            std::make_unique<ScriptedIterator>(std::vector<Event>(walk.events.begin(), middle)));
        iterators.push_back(
            std::make_unique<ScriptedIterator>(std::vector<Event>(middle, walk.events.end())));
        const DuplicateFinderAnalyser analyser{allSkipsOff,
                                               std::make_shared<pipeline::testing::CountingProbe>(),
                                               [&](auto partial) {
                                                   for (const auto& [id, group] : partial->duplicatesByHash) {
                                                       answers.groups.push_back(members(group));
                                                   }
                                               },
                                               [&](auto final) {
                                                   for (const auto& error : final->errors) {
                                                       answers.errors.push_back(error.path);
                                                   }
                                               },
                                               nullptr};
        analyser.analyse(std::move(iterators));
        opened = watch.take();
    }
    EXPECT_EQ(answers, expected);
    ASSERT_FALSE(opened.empty());
    for (const auto& [path, times] : opened) {
        EXPECT_LE(times, expectedOpened[path]) << path;
    }
    for (const std::string& path : walk.aloneOfTheirSize) {
        EXPECT_FALSE(opened.contains(path)) << path;
    }
}

// Cancelling while a stretch of the walk is answered leaves its files unanswered, but what was
// answered when it was read, here a folder that could not be read, is still recorded.
TEST(DuplicateFinderAnalyser, ACancelInAStretchStillRecordsWhatWasAnswered) {
    TemporaryDirectory root;
    const Event first = pipeline::testing::listedFile(root.writeFile("a", "same size"));
    const Event second = pipeline::testing::listedFile(root.writeFile("b", "same size"));
    std::atomic<bool> cancelled = false;
    // Cancels as it hands out its last event.
    class CancellingIterator : public ScriptedIterator {
    public:
        CancellingIterator(const std::vector<Event>& events, std::atomic<bool>& cancelled)
            : ScriptedIterator(events), left_(events.size()), cancelled_(cancelled) {}
        std::optional<Event> next() override {
            auto event = ScriptedIterator::next();
            if (event && --left_ == 0) {
                cancelled_ = true;
            }
            return event;
        }

    private:
        std::size_t left_;
        std::atomic<bool>& cancelled_;
    };
    const std::vector<Event> events{
        first, second, Event::unreadableDirectory(root / "locked", velmor::Error::posix(EACCES))};
    std::vector<std::unique_ptr<BaseFilesIterator>> iterators;
    iterators.push_back(std::make_unique<CancellingIterator>(events, cancelled));
    std::shared_ptr<DuplicateFinderResult> result;
    const DuplicateFinderAnalyser analyser{
        allSkipsOff,
        std::make_shared<pipeline::testing::CountingProbe>([&](int) { return cancelled.load(); }),
        [](auto) {}, [&](auto final) { result = std::move(final); }, nullptr};
    analyser.analyse(std::move(iterators));
    ASSERT_TRUE(result);
    ASSERT_EQ(result->errors.size(), 1u);
    EXPECT_EQ(result->errors.front().path, root / "locked");
    EXPECT_TRUE(result->duplicatesByHash.empty());
    EXPECT_TRUE(result->cancelled);
}

// A failure that leaves the walk, here running out of memory, ends the run; the completion still
// comes, once, with the failure among the errors, and the roots after it are not walked.
TEST(DuplicateFinderAnalyser, AFailureThatEndsTheWalkStillCompletesTheRun) {
    class FailingIterator : public BaseFilesIterator {
    public:
        std::optional<Event> next() override { throw std::bad_alloc(); }
    };
    bool laterRootWalked = false;
    class ObservedIterator : public BaseFilesIterator {
    public:
        explicit ObservedIterator(bool& walked) : walked_(walked) {}
        std::optional<Event> next() override {
            walked_ = true;
            return std::nullopt;
        }

    private:
        bool& walked_;
    };
    std::vector<std::unique_ptr<BaseFilesIterator>> iterators;
    iterators.push_back(std::make_unique<ScriptedIterator>(std::vector{Event::cycle("/loop")}));
    iterators.push_back(std::make_unique<FailingIterator>());
    iterators.push_back(std::make_unique<ObservedIterator>(laterRootWalked));
    std::vector<std::shared_ptr<DuplicateFinderResult>> completions;
    const DuplicateFinderAnalyser analyser{allSkipsOff, std::make_shared<pipeline::testing::CountingProbe>(),
                                           [](auto) {}, [&](auto final) { completions.push_back(final); },
                                           nullptr};
    EXPECT_NO_THROW(analyser.analyse(std::move(iterators)));
    ASSERT_EQ(completions.size(), 1u);
    const DuplicateFinderResult& result = *completions.front();
    EXPECT_TRUE(result.isLastResult);
    EXPECT_FALSE(result.cancelled);
    ASSERT_EQ(result.errors.size(), 1u);
    EXPECT_EQ(result.errors.front().path, "");
    EXPECT_NE(result.errors.front().error.description().find("bad_alloc"), std::string::npos)
        << result.errors.front().error.description();
    EXPECT_FALSE(laterRootWalked);
}

// A walk left open would change the working directory under the walk of a run that the completion
// starts, and cut that walk short.
TEST(DuplicateFinderAnalyser, ClosesItsWalksBeforeTheCompletion) {
    bool closed = false;
    bool closedAtCompletion = false;
    std::vector<std::unique_ptr<BaseFilesIterator>> iterators;
    iterators.push_back(std::make_unique<ScriptedIterator>(std::vector{Event::cycle("/loop")}, &closed));
    const DuplicateFinderAnalyser analyser{allSkipsOff, std::make_shared<pipeline::testing::CountingProbe>(),
                                           [](auto) {}, [&](auto) { closedAtCompletion = closed; }, nullptr};
    analyser.analyse(std::move(iterators));
    EXPECT_TRUE(closedAtCompletion);
}

} // namespace
} // namespace sweepkit
