#include "sdk/filesystem/FileSystemIterator.hpp"

#include "platform/fs/Descriptor.hpp"
#include "platform/fs/FileRemover.hpp"
#include "platform/testing/DescriptorLimit.hpp"
#include "platform/testing/PrivilegeDrop.hpp"
#include "platform/testing/TemporaryDirectory.hpp"
#include "sdk/filesystem/FSIteratorError.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdarg>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

// Every openat of this test binary passes here (it is linked with --wrap=openat), so a test can
// count the folders a walk opens.
namespace {
std::atomic<std::size_t> openatCalls{0};
} // namespace

extern "C" int __real_openat(int folder, const char* path, int flags, ...);
extern "C" int __wrap_openat(int folder, const char* path, int flags, ...) {
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
        std::va_list arguments;
        va_start(arguments, flags);
        mode = va_arg(arguments, mode_t);
        va_end(arguments);
    }
    openatCalls.fetch_add(1, std::memory_order_relaxed);
    return __real_openat(folder, path, flags, mode);
}

namespace sweepkit {
namespace {

using velmor::URL;
using velmor::testing::TemporaryDirectory;
using Kind = Event::Kind;

struct Seen {
    Kind kind;
    std::string relativePath;
    friend bool operator==(const Seen&, const Seen&) = default;
};

std::ostream& operator<<(std::ostream& out, const Seen& seen) {
    return out << static_cast<int>(seen.kind) << ":" << seen.relativePath;
}

std::string relative(const std::string& root, const std::string& path) {
    return path == root ? "." : path.substr(root.size() + 1);
}

std::vector<Event> walk(const std::string& root, std::uint32_t user = 0,
                        std::vector<std::uint32_t> groups = {}) {
    FileSystemIterator iterator(URL::fileURL(root), Options::physical, user, std::move(groups));
    std::vector<Event> events;
    while (auto event = iterator.next()) {
        events.push_back(std::move(*event));
    }
    return events;
}

std::vector<Seen> shape(const std::string& root, const std::vector<Event>& events) {
    std::vector<Seen> seen;
    for (const auto& event : events) {
        seen.push_back({event.kind(), relative(root, event.path())});
    }
    return seen;
}

std::map<std::string, bool> permissions(const std::string& root, const std::vector<Event>& events) {
    std::map<std::string, bool> result;
    for (const auto& event : events) {
        if (event.kind() != Kind::leaveDirectory) {
            result[relative(root, event.path())] = event.hasDeletePermission();
        }
    }
    return result;
}

TEST(FileSystemIterator, YieldsPreOrderAndPostOrderEvents) {
    TemporaryDirectory tmp;
    tmp.writeFile("a/b/file", "x");
    auto events = walk(tmp.path());
    EXPECT_EQ(shape(tmp.path(), events), (std::vector<Seen>{{Kind::enterDirectory, "."},
                                                            {Kind::enterDirectory, "a"},
                                                            {Kind::enterDirectory, "a/b"},
                                                            {Kind::file, "a/b/file"},
                                                            {Kind::leaveDirectory, "a/b"},
                                                            {Kind::leaveDirectory, "a"},
                                                            {Kind::leaveDirectory, "."}}));
    ASSERT_NE(events[3].stat(), nullptr);
    EXPECT_EQ(events[3].stat()->st_size, 1);
    ASSERT_NE(events[4].stat(), nullptr);
    EXPECT_TRUE(S_ISDIR(events[4].stat()->st_mode));
    EXPECT_EQ(events[3].url(), URL::fileURL(tmp / "a/b/file"));
    EXPECT_EQ(events[3].error(), nullptr);
}

TEST(FileSystemIterator, EachKindOfEntry) {
    struct Case {
        const char* name;
        void (*make)(const TemporaryDirectory&);
        std::vector<Kind> between;
    };
    const Case cases[] = {
        {"regular file", [](const TemporaryDirectory& t) { t.writeFile("e", "data"); }, {Kind::file}},
        {"link to a file",
         [](const TemporaryDirectory& t) {
             t.writeFile("target");
             ASSERT_EQ(::symlink("target", (t / "e").c_str()), 0);
         },
         {Kind::symlink, Kind::file}},
        {"dangling link",
         [](const TemporaryDirectory& t) { ASSERT_EQ(::symlink("nowhere", (t / "e").c_str()), 0); },
         {Kind::symlink}},
        {"fifo",
         [](const TemporaryDirectory& t) { ASSERT_EQ(::mkfifo((t / "e").c_str(), 0600), 0); },
         {Kind::unknownType}},
        {"empty folder",
         [](const TemporaryDirectory& t) { t.makeDirectory("e"); },
         {Kind::enterDirectory, Kind::leaveDirectory}},
    };
    for (const auto& c : cases) {
        TemporaryDirectory tmp;
        c.make(tmp);
        auto events = walk(tmp.path());
        std::multiset<int> kinds;
        for (std::size_t i = 1; i + 1 < events.size(); ++i) {
            kinds.insert(static_cast<int>(events[i].kind()));
        }
        std::multiset<int> expected;
        for (Kind kind : c.between) {
            expected.insert(static_cast<int>(kind));
        }
        EXPECT_EQ(kinds, expected) << c.name;
        ASSERT_GE(events.size(), 2u) << c.name;
        EXPECT_EQ(events.front().kind(), Kind::enterDirectory) << c.name;
        EXPECT_EQ(events.back().kind(), Kind::leaveDirectory) << c.name;
    }
}

TEST(FileSystemIterator, AStickyFolderLetsOnlyOwnersAndRootDelete) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to give the fixture files to other owners";
    }
    TemporaryDirectory tmp;
    std::string sticky = tmp.makeDirectory("sticky");
    std::string mine = tmp.writeFile("sticky/mine");
    std::string theirs = tmp.writeFile("sticky/theirs");
    ASSERT_EQ(::chown(sticky.c_str(), 1000, 1000), 0);
    ASSERT_EQ(::chmod(sticky.c_str(), 01777), 0);
    ASSERT_EQ(::chown(mine.c_str(), 2000, 2000), 0);
    ASSERT_EQ(::chown(theirs.c_str(), 3000, 3000), 0);

    auto asUser = permissions(sticky, walk(sticky, 2000, {2000}));
    EXPECT_TRUE(asUser["mine"]);
    EXPECT_FALSE(asUser["theirs"]);
    auto asRoot = permissions(sticky, walk(sticky, 0));
    EXPECT_TRUE(asRoot["mine"]);
    EXPECT_TRUE(asRoot["theirs"]);
}

TEST(FileSystemIterator, PermissionComesFromTheParentsModeOwnerAndGroup) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to give the fixture folders to other owners";
    }
    TemporaryDirectory tmp;
    ::chmod(tmp.path().c_str(), 0755);
    struct Folder {
        const char* name;
        mode_t mode;
        uid_t owner;
        gid_t group;
        bool expected; // for user 2000 in group 77
    };
    const Folder folders[] = {
        {"own-writable", 0755, 2000, 1, true},    {"own-readonly", 0555, 2000, 1, false},
        {"group-writable", 0775, 1000, 77, true}, {"group-writable-other-group", 0775, 1000, 78, false},
        {"world-writable", 0777, 1000, 1, true},  {"not-writable", 0755, 1000, 77, false},
    };
    for (const auto& folder : folders) {
        std::string path = tmp.makeDirectory(folder.name);
        tmp.writeFile(std::string(folder.name) + "/entry");
        ASSERT_EQ(::chown(path.c_str(), folder.owner, folder.group), 0);
        ASSERT_EQ(::chmod(path.c_str(), folder.mode), 0);
    }
    auto seen = permissions(tmp.path(), walk(tmp.path(), 2000, {77}));
    for (const auto& folder : folders) {
        EXPECT_EQ(seen[std::string(folder.name) + "/entry"], folder.expected) << folder.name;
        // The folders themselves sit in a parent only its owner (root) may write.
        EXPECT_FALSE(seen[folder.name]) << folder.name;
    }
}

TEST(FileSystemIterator, ARootFileIsJudgedAgainstItsOwnStat) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to change the fixture's owner";
    }
    TemporaryDirectory tmp;
    std::string file = tmp.writeFile("root-file", "abc");
    ASSERT_EQ(::chown(file.c_str(), 2000, 2000), 0);
    struct Case {
        mode_t mode;
        std::uint32_t user;
        bool expected;
    };
    const Case cases[] = {
        {0644, 2000, true},   // owner write bit
        {0444, 2000, false},  // no write bit for the owner
        {01666, 3000, false}, // world writable, but sticky and owned by someone else
        {01666, 2000, true},  // sticky, owned by the user
        {0444, 0, true},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(::chmod(file.c_str(), c.mode), 0);
        auto events = walk(file, c.user);
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].kind(), Kind::file);
        EXPECT_EQ(events[0].hasDeletePermission(), c.expected)
            << std::oct << c.mode << " user " << std::dec << c.user;
    }
}

TEST(FileSystemIterator, SkipLeavesTheEnteredFolderAtOnce) {
    TemporaryDirectory tmp;
    tmp.writeFile("inner/a");
    tmp.writeFile("inner/deeper/b");
    FileSystemIterator iterator(URL::fileURL(tmp / "inner"), Options::physical, 0, {});

    auto first = iterator.next();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->kind(), Kind::enterDirectory);
    iterator.skip();
    auto second = iterator.next();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->kind(), Kind::leaveDirectory);
    EXPECT_EQ(second->path(), tmp / "inner");
    EXPECT_FALSE(iterator.next());
    EXPECT_FALSE(iterator.next());
}

TEST(FileSystemIterator, SkipNeedsAPendingEnteredFolder) {
    auto expectNothingToSkip = [](FileSystemIterator& iterator) {
        try {
            iterator.skip();
            ADD_FAILURE() << "skip() did not throw";
        } catch (const velmor::TypedError<FSIteratorError>& error) {
            EXPECT_EQ(error.value(), FSIteratorError::nothingToSkip);
        }
    };
    TemporaryDirectory tmp;
    tmp.makeDirectory("root/empty");
    FileSystemIterator iterator(URL::fileURL(tmp / "root"), Options::physical, 0, {});
    expectNothingToSkip(iterator);

    ASSERT_EQ(iterator.next()->kind(), Kind::enterDirectory); // root
    ASSERT_EQ(iterator.next()->kind(), Kind::enterDirectory); // empty
    iterator.skip();
    expectNothingToSkip(iterator);

    // Once a folder has been left, fts may already have released it: there is nothing to skip.
    ASSERT_EQ(iterator.next()->kind(), Kind::leaveDirectory); // empty
    expectNothingToSkip(iterator);
    ASSERT_EQ(iterator.next()->kind(), Kind::leaveDirectory); // root
    EXPECT_FALSE(iterator.next());
}

TEST(FileSystemIterator, SkipAfterEntriesOfTheEnteredFolderLeavesItsRestUnwalked) {
    TemporaryDirectory tmp;
    for (const char* name : {"f0", "f1", "f2", "f3", "sub/below"}) {
        tmp.writeFile(std::string("inner/") + name);
    }
    FileSystemIterator iterator(URL::fileURL(tmp / "inner"), Options::physical, 0, {});
    ASSERT_EQ(iterator.next()->kind(), Kind::enterDirectory);
    // Listing order is the file system's: the walk goes on to the first of the folder's own files.
    std::optional<Event> event;
    while ((event = iterator.next()) && event->path().rfind(tmp / "inner/f", 0) != 0) {
    }
    ASSERT_TRUE(event);
    const std::string skippedAt = event->path();
    iterator.skip();
    try {
        iterator.skip();
        ADD_FAILURE() << "a second skip() did not throw";
    } catch (const velmor::TypedError<FSIteratorError>& error) {
        EXPECT_EQ(error.value(), FSIteratorError::nothingToSkip);
    }
    event = iterator.next();
    ASSERT_TRUE(event);
    EXPECT_EQ(event->kind(), Kind::leaveDirectory) << event->path() << " after " << skippedAt;
    EXPECT_EQ(event->path(), tmp / "inner");
    EXPECT_FALSE(iterator.next());
}

TEST(FileSystemIterator, AFolderMovedDuringTheWalkDoesNotEndIt) {
    TemporaryDirectory tmp;
    tmp.writeFile("root/a/b/f1");
    tmp.writeFile("root/c/f2");
    FileSystemIterator iterator(URL::fileURL(tmp / "root"), Options::physical, 0, {});
    std::vector<Event> events;
    while (auto event = iterator.next()) {
        if (event->kind() == Kind::file && event->path() == tmp / "root/a/b/f1") {
            // Moved away while the walk is inside it: a walk that climbed back by ".." would be lost.
            std::filesystem::rename(tmp / "root/a/b", tmp / "moved");
        }
        events.push_back(std::move(*event));
    }
    auto seen = shape(tmp / "root", events);
    EXPECT_NE(std::find(seen.begin(), seen.end(), Seen{Kind::file, "c/f2"}), seen.end());
    EXPECT_EQ(seen.back(), (Seen{Kind::leaveDirectory, "."}));
    EXPECT_FALSE(iterator.next());
}

TEST(FileSystemIterator, AFolderReplacedByALinkOnceListedIsNeitherEnteredNorFollowed) {
    TemporaryDirectory tmp;
    tmp.writeFile("elsewhere/outside");
    tmp.writeFile("elsewhere/sub/deeper");
    const int folders = 8;
    for (int index = 0; index < folders; ++index) {
        tmp.writeFile("root/d" + std::to_string(index) + "/inside");
    }
    FileSystemIterator iterator(URL::fileURL(tmp / "root"), Options::physical, 0, {});
    std::vector<Event> events;
    std::vector<std::string> replaced;
    bool swapped = false;
    while (auto event = iterator.next()) {
        if (!swapped && event->path() != tmp / "root") {
            // The root's listing is read: every folder not reached yet becomes a link to a tree
            // outside the walk, between fts's look at it and the walk's own.
            swapped = true;
            for (int index = 0; index < folders; ++index) {
                const std::string name = "d" + std::to_string(index);
                if (event->path().rfind((tmp / "root") + "/" + name, 0) == 0) {
                    continue;
                }
                std::filesystem::remove_all((tmp / "root") + "/" + name);
                std::filesystem::create_directory_symlink(tmp / "elsewhere", (tmp / "root") + "/" + name);
                replaced.push_back(name);
            }
        }
        events.push_back(std::move(*event));
    }
    ASSERT_FALSE(replaced.empty());
    for (const auto& event : events) {
        EXPECT_EQ(event.path().find("outside"), std::string::npos) << event.path();
        EXPECT_EQ(event.path().find("deeper"), std::string::npos) << event.path();
    }
    for (const auto& name : replaced) {
        const auto found = std::find_if(events.begin(), events.end(),
                                        [&](const Event& event) { return event.path() == (tmp / "root") + "/" + name; });
        ASSERT_NE(found, events.end()) << name;
        EXPECT_EQ(found->kind(), Kind::fileError) << name;
    }
    EXPECT_EQ(shape(tmp / "root", events).back(), (Seen{Kind::leaveDirectory, "."}));
}

// `levels` folders named "d", one inside the other below `top`. Each folder at an odd level is
// listed before a file of its parent, so the walk comes back to the parent for that file; each at
// an even level is its parent's only entry, so the walk leaves the parent right after it. Listing
// order is the file system's own: files are added until one is listed after the folder. The
// folders' paths, `top` first.
std::vector<std::string> alternatingChain(const std::string& top, int levels) {
    std::vector<std::string> folders{top};
    std::filesystem::create_directories(top);
    // Made through descriptors: a deep chain's paths are slow to look up one by one.
    velmor::Descriptor parent(::open(top.c_str(), O_DIRECTORY | O_RDONLY | O_CLOEXEC));
    auto fileListedAfterFolder = [&] {
        DIR* listing = ::fdopendir(::openat(parent.get(), ".", O_DIRECTORY | O_RDONLY | O_CLOEXEC));
        bool folderSeen = false;
        bool after = false;
        while (const struct ::dirent* entry = listing != nullptr ? ::readdir(listing) : nullptr) {
            const std::string name = entry->d_name;
            after = after || (folderSeen && name != "." && name != "..");
            folderSeen = folderSeen || name == "d";
        }
        if (listing != nullptr) {
            ::closedir(listing);
        }
        return after;
    };
    for (int level = 0; level < levels; ++level) {
        if (!parent || ::mkdirat(parent.get(), "d", 0700) != 0) {
            throw std::runtime_error("cannot make the chain's folder below " + folders.back());
        }
        for (int file = 0; level % 2 == 1 && !fileListedAfterFolder(); ++file) {
            if (file == 64) {
                throw std::runtime_error("no file is listed after the folder in " + folders.back());
            }
            const std::string name = "f" + std::to_string(file);
            ::close(::openat(parent.get(), name.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
        }
        parent.reset(::openat(parent.get(), "d", O_DIRECTORY | O_RDONLY | O_CLOEXEC));
        folders.push_back(folders.back() + "/d");
    }
    return folders;
}

std::vector<Seen> walkShape(const std::string& root) {
    return shape(root, walk(root));
}

TEST(FileSystemIterator, ADeepChainIsWalkedWithAFewFolderOpensPerFolder) {
    TemporaryDirectory tmp;
    const int levels = 1000;
    const auto folders = alternatingChain(tmp / "root", levels);
    const std::size_t before = openatCalls.load();
    const auto seen = walkShape(tmp / "root");
    const std::size_t opens = openatCalls.load() - before;
    // Faster than the temporary folder's own clean-up, which looks every path up from the top.
    velmor::FileRemover().removeItem(tmp / "root");

    ASSERT_EQ(seen.back(), (Seen{Kind::leaveDirectory, "."}));
    EXPECT_EQ(std::count_if(seen.begin(), seen.end(),
                            [](const Seen& one) { return one.kind == Kind::leaveDirectory; }),
              levels + 1);
    // At least the opening of each folder, to tell that the count sees the walk's opens at all.
    EXPECT_GE(opens, folders.size());
    // Entering each folder and coming back up from it; a walk that finds its way back to a folder
    // from the top of the chain opens folders in proportion to the square of the depth.
    EXPECT_LE(opens, 3 * folders.size());
}

TEST(FileSystemIterator, AnAncestorRenamedWhileTheWalkIsBelowItCostsNoEntries) {
    struct Case {
        // 0 keeps the process's limit: the walk holds as many folders as it may.
        rlim_t descriptorLimit;
        int levels;
        int renamedLevel;
    };
    for (const Case c : {Case{0, 100, 80}, Case{32, 40, 5}}) {
        TemporaryDirectory tmp;
        const auto folders = alternatingChain(tmp / "root", c.levels);
        std::optional<velmor::testing::DescriptorLimit> lowered;
        if (c.descriptorLimit != 0) {
            lowered.emplace(c.descriptorLimit);
            ASSERT_TRUE(lowered->applied());
        }
        const auto whole = walkShape(tmp / "root");

        const std::string renamed = folders[static_cast<std::size_t>(c.renamedLevel)];
        FileSystemIterator iterator(URL::fileURL(tmp / "root"), Options::physical, 0, {});
        std::vector<Event> events;
        bool moved = false;
        while (auto event = iterator.next()) {
            if (!moved && event->path() == folders.back()) {
                // Renamed in place: every folder keeps its parent, only the path to them changes.
                std::filesystem::rename(renamed, renamed + "-renamed");
                moved = true;
            }
            events.push_back(std::move(*event));
        }
        ASSERT_TRUE(moved);
        const auto seen = shape(tmp / "root", events);
        EXPECT_EQ(seen.size(), whole.size()) << "limit " << c.descriptorLimit;
        EXPECT_TRUE(seen == whole) << "limit " << c.descriptorLimit;
        const auto failed = std::find_if(events.begin(), events.end(),
                                         [](const Event& event) { return event.error() != nullptr; });
        EXPECT_EQ(failed, events.end()) << "limit " << c.descriptorLimit << ": " << failed->path() << " error "
                                        << failed->error()->code();
    }
}

// Folders one inside the other below `top`, names `width` bytes long, until `enough` says of the
// deepest path's length. Built through descriptors, since the deepest may have no path the system
// accepts. Every folder's path in order, and the deepest open (none when the fixture failed).
struct DeepFolders {
    std::vector<std::string> paths;
    velmor::Descriptor deepest;
};

template <typename Enough> DeepFolders deepFolders(const std::string& top, std::size_t width, Enough enough) {
    DeepFolders result;
    if (::mkdir(top.c_str(), 0700) != 0) {
        return result;
    }
    velmor::Descriptor folder(::open(top.c_str(), O_DIRECTORY | O_RDONLY));
    std::string path = top;
    for (int level = 0; folder && !enough(path.size()); ++level) {
        std::string name = std::to_string(level) + std::string(width, 'x');
        path += "/" + name;
        result.paths.push_back(path);
        if (::mkdirat(folder.get(), name.c_str(), 0700) != 0) {
            return result;
        }
        folder.reset(::openat(folder.get(), name.c_str(), O_DIRECTORY | O_RDONLY));
    }
    result.deepest = std::move(folder);
    return result;
}

TEST(FileSystemIterator, EntriesBeyondTheLongestPathAreReportedWithTheirError) {
    TemporaryDirectory tmp;
    auto deep = deepFolders(tmp / "deep", 200, [](std::size_t length) { return length >= 2 * PATH_MAX; });
    ASSERT_TRUE(deep.deepest);
    std::string firstTooLong;
    for (const auto& path : deep.paths) {
        if (path.size() >= PATH_MAX) {
            firstTooLong = path;
            break;
        }
    }
    ::close(::openat(deep.deepest.get(), "file", O_CREAT | O_WRONLY, 0600));

    auto events = walk(tmp / "deep");
    velmor::FileRemover().removeItem(tmp / "deep");
    std::vector<const Event*> failures;
    for (const auto& event : events) {
        if (event.error() != nullptr) {
            failures.push_back(&event);
        }
    }
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0]->path(), firstTooLong);
    EXPECT_EQ(failures[0]->error()->code(), ENAMETOOLONG);
    EXPECT_EQ(events.back().kind(), Kind::leaveDirectory);
    EXPECT_EQ(events.back().path(), tmp / "deep");
}

TEST(FileSystemIterator, AFileWhosePathCrossesTheLimitIsReportedThoughItsFolderFits) {
    TemporaryDirectory tmp;
    // Folders until about 200 bytes are left below the limit, then a file that fits and one that
    // does not: read from its folder the latter would pass, by its path it cannot be reached.
    auto deep = deepFolders(tmp / "deep", 100,
                            [](std::size_t length) { return length + 1 + 100 + 150 >= PATH_MAX; });
    ASSERT_TRUE(deep.deepest);
    const std::string path = deep.paths.back();
    ASSERT_LT(path.size(), static_cast<std::size_t>(PATH_MAX));
    const std::string fits = "f";
    // Its path with the slash is exactly PATH_MAX long, one more than the system takes.
    const std::string crosses(PATH_MAX - path.size() - 1, 'y');
    ::close(::openat(deep.deepest.get(), fits.c_str(), O_CREAT | O_WRONLY, 0600));
    ::close(::openat(deep.deepest.get(), crosses.c_str(), O_CREAT | O_WRONLY, 0600));

    auto events = walk(tmp / "deep");
    velmor::FileRemover().removeItem(tmp / "deep");
    std::map<std::string, const Event*> byPath;
    for (const auto& event : events) {
        byPath[event.path()] = &event;
    }
    ASSERT_TRUE(byPath.count(path + "/" + fits));
    EXPECT_EQ(byPath[path + "/" + fits]->kind(), Kind::file);
    ASSERT_TRUE(byPath.count(path + "/" + crosses));
    const Event& tooLong = *byPath[path + "/" + crosses];
    EXPECT_EQ(tooLong.kind(), Kind::fileError);
    ASSERT_NE(tooLong.error(), nullptr);
    EXPECT_EQ(tooLong.error()->code(), ENAMETOOLONG);
}

// Each link can be read but not followed, for its own reason; "denied" only for a user who may not
// search the folder its target is in, so the checks run as an unprivileged user when run as root.
TEST(FileSystemIterator, LinksThatCannotBeFollowedAreBrokenLinksWhereLinksAreFollowed) {
    TemporaryDirectory tmp;
    ::chmod(tmp.path().c_str(), 0755);
    const std::string root = tmp.makeDirectory("root");
    ::chmod(root.c_str(), 0755);
    tmp.writeFile("root/file");
    tmp.writeFile("closed/inside");
    ASSERT_EQ(::chmod((tmp / "closed").c_str(), 0700), 0);
    struct Link {
        const char* name;
        std::string target;
        int followError;
    };
    const Link links[] = {
        {"missing", "nowhere", ENOENT},
        {"loop", "loop", ELOOP},
        {"through-a-file", "file/below", ENOTDIR},
        {"name-too-long", std::string(NAME_MAX + 1, 'n'), ENAMETOOLONG},
        {"denied", tmp / "closed/inside", EACCES},
    };
    for (const Link& link : links) {
        ASSERT_EQ(::symlink(link.target.c_str(), (root + "/" + link.name).c_str()), 0) << link.name;
    }
    const std::uint32_t user = ::geteuid() == 0 ? velmor::testing::unprivilegedUser : ::geteuid();

    auto check = [&] {
        int failures = 0;
        auto expectBroken = [&](const Event& event, const std::string& what) {
            if (event.kind() != Kind::brokenSymlink || event.stat() == nullptr || !S_ISLNK(event.stat()->st_mode)) {
                std::fprintf(stderr, "%s: %s gives event kind %d\n", what.c_str(), event.path().c_str(),
                             static_cast<int>(event.kind()));
                ++failures;
            }
        };
        for (const Link& link : links) {
            struct ::stat record {};
            if (::stat((root + "/" + link.name).c_str(), &record) == 0 || errno != link.followError) {
                std::fprintf(stderr, "the fixture's %s does not fail with %d\n", link.name, link.followError);
                ++failures;
            }
        }
        FileSystemIterator walk(URL::fileURL(root), Options::logical, user, {});
        while (auto event = walk.next()) {
            if (event->path() != root && event->path() != root + "/file") {
                expectBroken(*event, "in a logical walk");
            }
        }
        for (const Link& link : links) {
            for (const Options options : {Options::logical, Options{Options::physical, Options::commandLineFollow}}) {
                FileSystemIterator rootWalk(URL::fileURL(root + "/" + link.name), options, user, {});
                auto event = rootWalk.next();
                if (!event || rootWalk.next()) {
                    std::fprintf(stderr, "the root %s gives other than one event\n", link.name);
                    ++failures;
                } else {
                    expectBroken(*event, "as a followed root");
                }
            }
        }
        return failures;
    };
    if (::geteuid() == 0) {
        EXPECT_EQ(velmor::testing::runAsUnprivilegedUser(check), 0);
    } else {
        EXPECT_EQ(check(), 0);
    }
}

TEST(FileSystemIterator, MissingRootAndUnopenableStream) {
    TemporaryDirectory tmp;
    auto events = walk(tmp / "missing");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind(), Kind::fileError);
    ASSERT_NE(events[0].error(), nullptr);
    EXPECT_EQ(events[0].error()->code(), ENOENT);
    EXPECT_EQ(events[0].stat(), nullptr);

    FileSystemIterator unopened(URL(), Options::physical, 0, {});
    EXPECT_FALSE(unopened.next());
    EXPECT_FALSE(unopened.next());
}

TEST(FileSystemIterator, AWalkEndedBeforeOrDuringItsReadingReleasesEverything) {
    // The leak checker of the sanitizer build is the judge here.
    TemporaryDirectory tmp;
    tmp.writeFile("a/b", "x");
    tmp.writeFile("a/c", "x");
    { FileSystemIterator unread(URL::fileURL(tmp.path()), Options::physical, 0, {}); }
    FileSystemIterator halfway(URL::fileURL(tmp.path()), Options::physical, 0, {});
    for (int event = 0; event < 3; ++event) {
        ASSERT_TRUE(halfway.next());
    }
}

// Run as an unprivileged user: root reads every folder, whatever its mode.
TEST(FileSystemIterator, FoldersThatCannotBeReadOrSearchedAreReportedAndTheWalkGoesOn) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to fork a child that drops to an unprivileged user";
    }
    TemporaryDirectory tmp;
    ::chmod(tmp.path().c_str(), 0755);
    std::string root = tmp.makeDirectory("root");
    tmp.writeFile("root/closed/hidden");
    tmp.writeFile("root/listable/hidden");
    ASSERT_EQ(::chown(root.c_str(), velmor::testing::unprivilegedUser, velmor::testing::unprivilegedUser), 0);
    ASSERT_EQ(::chmod((tmp / "root/closed").c_str(), 0000), 0);
    ASSERT_EQ(::chmod((tmp / "root/listable").c_str(), 0644), 0);

    int status = velmor::testing::runAsUnprivilegedUser([&] {
        std::map<std::string, int> errors;
        int leftDirectories = 0;
        bool sawHidden = false;
        FileSystemIterator iterator(URL::fileURL(root), Options::physical, velmor::testing::unprivilegedUser,
                                    {});
        std::vector<Event> events;
        while (auto event = iterator.next()) {
            std::string name = relative(root, event->path());
            const bool failed =
                event->kind() == Kind::unreadableDirectory || event->kind() == Kind::fileError;
            if (failed) {
                errors[name] = event->error() ? static_cast<int>(event->error()->code()) : -1;
            }
            if (event->kind() == Kind::leaveDirectory) {
                ++leftDirectories;
                if (name == "closed") {
                    return 10; // a folder that could not be walked must not look like an empty one
                }
                if (!event->stat()) {
                    return 11;
                }
            }
            sawHidden = sawHidden || (!failed && name.find("hidden") != std::string::npos);
        }
        // A folder that can be listed but not searched shows each entry with the error of its stat.
        if (errors.size() != 2 || errors["closed"] != EACCES || errors["listable/hidden"] != EACCES) {
            return 12;
        }
        return (leftDirectories == 2 && !sawHidden) ? 0 : 13;
    });
    EXPECT_EQ(status, 0);
}

TEST(FileSystemIterator, EntriesAfterAnUnreadableFolderAreJudgedAgainstTheirRealParent) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to fork a child that drops to an unprivileged user";
    }
    // root (writable by the user) holds a closed folder owned by root and files; the files must be
    // judged against root, not against the closed folder that was never walked.
    TemporaryDirectory tmp;
    ::chmod(tmp.path().c_str(), 0755);
    std::string root = tmp.makeDirectory("root");
    tmp.makeDirectory("root/a-closed");
    tmp.writeFile("root/a-closed/inner");
    // fts gives entries in directory order, not by name: with many files, some follow the folder.
    for (int i = 0; i < 20; ++i) {
        tmp.writeFile("root/file-" + std::to_string(i));
    }
    ASSERT_EQ(::chown(root.c_str(), velmor::testing::unprivilegedUser, velmor::testing::unprivilegedUser), 0);
    ASSERT_EQ(::chmod((tmp / "root/a-closed").c_str(), 0000), 0);

    int status = velmor::testing::runAsUnprivilegedUser([&] {
        FileSystemIterator iterator(URL::fileURL(root), Options::physical, velmor::testing::unprivilegedUser,
                                    {});
        bool sawUnreadable = false;
        bool sawFile = false;
        while (auto event = iterator.next()) {
            if (event->kind() == Kind::unreadableDirectory) {
                sawUnreadable = true;
            }
            if (event->kind() == Kind::file) {
                sawFile = true;
                if (!event->hasDeletePermission()) {
                    return 20;
                }
            }
        }
        return sawUnreadable && sawFile ? 0 : 21;
    });
    EXPECT_EQ(status, 0);
}

// Each entry's record is read relative to its folder: it must still be the entry's own, birth time
// included, and a walk that refills one event must tell exactly what fresh events tell.
TEST(FileSystemIterator, RecordsAreTheEntriesOwnAndRefilledEventsTellTheSame) {
    TemporaryDirectory tmp;
    tmp.writeFile("a/short", "1");
    tmp.writeFile("a/a-much-longer-name-than-the-others-in-this-folder/deep/file", "four");
    tmp.writeFile("b/x", std::string(5000, 'x'));
    ASSERT_EQ(::symlink("a", (tmp / "link").c_str()), 0);
    ASSERT_EQ(::mkfifo((tmp / "b/fifo").c_str(), 0600), 0);
    ASSERT_EQ(::chmod((tmp / "b/x").c_str(), 0640), 0);

    auto events = walk(tmp.path());
    std::size_t checked = 0;
    for (const auto& event : events) {
        ASSERT_NE(event.stat(), nullptr) << event.path();
        auto own = velmor::Stat::lstatPath(event.path());
        ASSERT_TRUE(own) << event.path();
        if (event.kind() == Kind::leaveDirectory) {
            // Read when the folder was entered; its entries' times are what the walk changed since.
            EXPECT_EQ(event.stat()->st_ino, own->st_ino) << event.path();
            continue;
        }
        // Listing a folder may touch its access time after its record was read.
        velmor::Stat walked = *event.stat();
        walked.st_atimespec = own->st_atimespec = {};
        EXPECT_EQ(walked, *own) << event.path();
        ++checked;
    }
    EXPECT_EQ(checked, 10u);

    FileSystemIterator iterator(URL::fileURL(tmp.path()), Options::physical, 0, {});
    std::optional<Event> slot;
    std::size_t index = 0;
    while (iterator.advance(slot)) {
        ASSERT_LT(index, events.size());
        const Event& fresh = events[index++];
        EXPECT_EQ(slot->kind(), fresh.kind()) << fresh.path();
        EXPECT_EQ(slot->path(), fresh.path());
        EXPECT_EQ(slot->hasDeletePermission(), fresh.hasDeletePermission()) << fresh.path();
        EXPECT_EQ(slot->error(), nullptr) << fresh.path();
        ASSERT_NE(slot->stat(), nullptr) << fresh.path();
        EXPECT_EQ(slot->stat()->st_ino, fresh.stat()->st_ino) << fresh.path();
    }
    EXPECT_EQ(index, events.size());
}

TEST(FileSystemIterator, CurrentUserGroupsAreTheSupplementaryAndTheEffectiveGroupEachOnce) {
    std::vector<std::uint32_t> groups = currentUserGroups();
    std::vector<gid_t> supplementary(static_cast<std::size_t>(::getgroups(0, nullptr)));
    supplementary.resize(
        static_cast<std::size_t>(::getgroups(static_cast<int>(supplementary.size()), supplementary.data())));
    std::vector<std::uint32_t> expected(supplementary.begin(), supplementary.end());
    expected.push_back(::getegid());
    std::sort(expected.begin(), expected.end());
    expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
    std::sort(groups.begin(), groups.end());
    EXPECT_EQ(groups, expected);

    if (::geteuid() == 0) {
        // Without supplementary groups the list is the effective group alone; that is no failure.
        int status = velmor::testing::runAsUnprivilegedUser([] {
            try {
                return currentUserGroups() == std::vector<std::uint32_t>{velmor::testing::unprivilegedUser}
                           ? 0
                           : 30;
            } catch (...) {
                return 31;
            }
        });
        EXPECT_EQ(status, 0);
    }
}

// A user without supplementary groups may still remove files from a folder that its own primary
// group may write: the walk's delete flags must say what removing them then does.
TEST(FileSystemIterator, DeleteFlagsWithTheUsersGroupsAgreeWithRemoval) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to fork a child that drops to an unprivileged user";
    }
    TemporaryDirectory tmp;
    ::chmod(tmp.path().c_str(), 0755);
    const std::string root = tmp.makeDirectory("root");
    struct Folder {
        const char* name;
        gid_t group;
    };
    const Folder folders[] = {{"of-own-group", velmor::testing::unprivilegedUser}, {"of-other-group", 0}};
    for (const Folder& folder : folders) {
        const std::string path = tmp.makeDirectory(std::string("root/") + folder.name);
        tmp.writeFile(std::string("root/") + folder.name + "/file");
        ASSERT_EQ(::chown(path.c_str(), 0, folder.group), 0);
        ASSERT_EQ(::chmod(path.c_str(), 0775), 0);
    }

    int status = velmor::testing::runAsUnprivilegedUser([&] {
        FileSystemIterator iterator(URL::fileURL(root), Options::physical, velmor::testing::unprivilegedUser,
                                    currentUserGroups());
        int files = 0;
        while (auto event = iterator.next()) {
            if (event->kind() != Kind::file) {
                continue;
            }
            ++files;
            const bool removed = ::unlink(event->path().c_str()) == 0;
            if (event->hasDeletePermission() != removed) {
                return removed ? 40 : 41;
            }
        }
        return files == 2 ? 0 : 42;
    });
    EXPECT_EQ(status, 0);
}

} // namespace
} // namespace sweepkit
