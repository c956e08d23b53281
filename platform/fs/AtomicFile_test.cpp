#include "platform/fs/AtomicFile.hpp"

#include "platform/error/Error.hpp"
#include "platform/fs/Descriptor.hpp"
#include "platform/testing/ChildTestRun.hpp"
#include "platform/testing/FileSnapshot.hpp"
#include "platform/testing/PrivilegeDrop.hpp"
#include "platform/testing/TemporaryDirectory.hpp"
#include "platform/testing/WaitUntil.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
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

// Writes take the path for file systems without unnamed temporary files while it lives.
struct NamedTemporariesOnly {
    explicit NamedTemporariesOnly(bool active = true) { allowUnnamedTemporaryFiles(!active); }
    ~NamedTemporariesOnly() { allowUnnamedTemporaryFiles(true); }
};

std::vector<std::string> entryNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename());
    }
    std::sort(names.begin(), names.end());
    return names;
}

const char* pathName(bool namedOnly) {
    return namedOnly ? "through a named temporary" : "through an unnamed temporary";
}

TEST(AtomicFile, ANameAsLongAsAFolderEntryCanHoldIsWritten) {
    // 127 two-byte characters and one more byte: 255 bytes, the most an entry's name may have.
    std::string name;
    for (int i = 0; i < 127; ++i) {
        name += "\xc3\xa9";
    }
    name += "x";
    for (bool namedOnly : {false, true}) {
        SCOPED_TRACE(pathName(namedOnly));
        NamedTemporariesOnly mode(namedOnly);
        TemporaryDirectory dir;
        replaceFileAtomically(dir.path(), name, "first");
        replaceFileAtomically(dir.path(), name, "second");
        EXPECT_EQ(contentsOf(dir / name), "second");
        EXPECT_EQ(entryNames(dir.path()), std::vector<std::string>{name});
    }
}

TEST(AtomicFile, AWriteRemovesOnlyTheTemporariesItsOwnWritersLeftWhenTheyDied) {
    for (bool namedOnly : {false, true}) {
        SCOPED_TRACE(pathName(namedOnly));
        NamedTemporariesOnly mode(namedOnly);
        TemporaryDirectory dir;
        dir.writeFile("value", "old");
        // What earlier writes of "value" made, it may have left in two ways: from a writer that
        // died, and from a writer still at work, which holds its temporary locked.
        const std::string stale = ".value.velmor-tmp.AbCd1234";
        dir.writeFile(stale, "half a val");
        const std::string live = dir.writeFile(".value.velmor-tmp.Live0000", "in progress");
        Descriptor held(::open(live.c_str(), O_RDONLY | O_CLOEXEC));
        ASSERT_EQ(::flock(held.get(), LOCK_EX), 0);
        // A shared folder's other files: the user's own, another program's live temporaries, and a
        // temporary of another file this library writes, which is that file's writers' to remove.
        const std::vector<std::string> others{".notes.20241211",
                                              ".config.backup01",
                                              ".thumbnails-index.hqllmaar",
                                              ".value.AbCd1234",
                                              ".value.tmp",
                                              ".other.json.velmor-tmp.Zz9yX8w7",
                                              "value.velmor-tmp.AbCd1234",
                                              ".value.velmor-tmp.AbCd12345"};
        for (const auto& name : others) {
            dir.writeFile(name, "someone else's");
        }
        dir.makeDirectory(".value.velmor-tmp.Fold1234");
        const std::string outside = dir.writeFile("outside", "kept");
        ASSERT_EQ(::symlink(outside.c_str(), (dir / ".value.velmor-tmp.Link1234").c_str()), 0);

        replaceFileAtomically(dir.path(), "value", "new");

        EXPECT_EQ(contentsOf(dir / "value"), "new");
        EXPECT_FALSE(velmor::testing::exists(dir / stale));
        for (const auto& name : others) {
            EXPECT_EQ(contentsOf(dir / name), "someone else's") << name;
        }
        EXPECT_EQ(contentsOf(live), "in progress");
        EXPECT_TRUE(velmor::testing::exists(dir / ".value.velmor-tmp.Fold1234"));
        EXPECT_TRUE(velmor::testing::exists(dir / ".value.velmor-tmp.Link1234"));
        EXPECT_EQ(contentsOf(outside), "kept");
    }
}

// The writers' lock is a file only they can open: made with its mode exactly whatever the umask,
// an own one left looser is tightened, and an entry at its name that is no file of this user's is
// refused, naming the target, without waiting on it.
TEST(AtomicFile, TheWritersLockFileOpensToNoOneElseAndAnythingElseAtItsNameIsRefused) {
    TemporaryDirectory dir;
    Descriptor folder(::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const std::string lockFile = dir / ".value.velmor-lock";
    mode_t previous = ::umask(077);
    { Descriptor held = lockWriters(folder.get(), dir.path(), "value", 0660); }
    ::umask(previous);
    struct ::stat record {};
    ASSERT_EQ(::lstat(lockFile.c_str(), &record), 0);
    EXPECT_EQ(record.st_mode & 07777, 0660u);
    ASSERT_EQ(::chmod(lockFile.c_str(), 0644), 0);
    { Descriptor held = lockWriters(folder.get(), dir.path(), "value"); }
    ASSERT_EQ(::lstat(lockFile.c_str(), &record), 0);
    EXPECT_EQ(record.st_mode & 07777, 0600u);

    struct Case {
        const char* what;
        std::function<void(const std::string&)> plant;
    };
    const std::string outside = dir.writeFile("outside", "kept");
    const Case cases[] = {
        {"a symbolic link",
         [&](const std::string& at) { ASSERT_EQ(::symlink(outside.c_str(), at.c_str()), 0); }},
        {"a pipe", [](const std::string& at) { ASSERT_EQ(::mkfifo(at.c_str(), 0600), 0); }},
        {"a folder", [](const std::string& at) { ASSERT_EQ(::mkdir(at.c_str(), 0700), 0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string name = std::string("planted-") + c.what[2];
        c.plant(dir / ("." + name + ".velmor-lock"));
        try {
            lockWriters(folder.get(), dir.path(), name);
            ADD_FAILURE() << "the lock was taken";
        } catch (const ErrorException& error) {
            EXPECT_EQ(*error.error().stringValue(Error::filePathKey), dir / name);
            EXPECT_NE(error.error().description().find(dir / name), std::string::npos)
                << error.error().description();
        }
    }
    EXPECT_EQ(contentsOf(outside), "kept");
    if (::getuid() == 0) {
        // Root can open any user's file, and so could its owner: it is refused.
        const std::string foreign = dir.writeFile(".theirs.velmor-lock", "");
        ASSERT_EQ(
            ::chown(foreign.c_str(), velmor::testing::unprivilegedUser, velmor::testing::unprivilegedUser),
            0);
        ASSERT_EQ(::chmod(foreign.c_str(), 0600), 0);
        EXPECT_THROW(lockWriters(folder.get(), dir.path(), "theirs"), ErrorException);
    } else {
        std::printf("Skipped the lock file of another user: making one needs root\n");
    }
}

constexpr const char* writerFolderVariable = "VELMOR_TEST_WRITER_FOLDER";
constexpr const char* namedOnlyVariable = "VELMOR_TEST_NAMED_TEMPORARIES_ONLY";
constexpr std::size_t killedValueSize = 4 << 20;

// One byte repeated: a torn value shows as a short file or mixed bytes.
std::string valueOfRound(unsigned round) {
    return std::string(killedValueSize, static_cast<char>('a' + round % 26));
}

bool isWholeValue(const std::string& contents) {
    return contents.size() == killedValueSize &&
           std::all_of(contents.begin(), contents.end(), [&](char c) { return c == contents.front(); });
}

class AtomicFileKilledWriters : public ::testing::TestWithParam<bool> {};

TEST_P(AtomicFileKilledWriters, LeaveNoTornValueAndNoTemporary) {
    if (velmor::testing::isChildTestRun()) {
        // A writer: replaces the value until it is killed, saying once that it is under way.
        const std::string folder = std::getenv(writerFolderVariable);
        NamedTemporariesOnly mode(std::string(std::getenv(namedOnlyVariable)) == "1");
        for (unsigned round = 0;; ++round) {
            replaceFileAtomically(folder + "/store", "value", valueOfRound(round));
            if (round == 0) {
                std::ofstream(folder + "/started/" + std::to_string(::getpid()));
            }
        }
    }
    const bool namedOnly = GetParam();
    NamedTemporariesOnly mode(namedOnly);
    TemporaryDirectory dir;
    dir.makeDirectory("store");
    dir.makeDirectory("started");
    const std::vector<std::string> variables{std::string(writerFolderVariable) + "=" + dir.path(),
                                             std::string(namedOnlyVariable) + "=" + (namedOnly ? "1" : "0")};
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> pause(0, 100);
    constexpr int rounds = 3;
    constexpr int writersPerRound = 6;
    for (int round = 0; round < rounds; ++round) {
        std::vector<pid_t> writers;
        for (int i = 0; i < writersPerRound; ++i) {
            writers.push_back(velmor::testing::startCurrentTestInChild(variables));
            ASSERT_GT(writers.back(), 0);
        }
        for (pid_t writer : writers) {
            EXPECT_TRUE(velmor::testing::waitUntil(
                [&] { return velmor::testing::exists(dir / "started/" + std::to_string(writer)); }));
            std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
            ::kill(writer, SIGKILL);
            EXPECT_EQ(velmor::testing::waitForChildTest(writer), 128 + SIGKILL);
        }
    }

    EXPECT_TRUE(isWholeValue(contentsOf(dir / "store/value")));
    // Without a name until it is whole, a temporary can only be left by a writer killed between
    // naming it and renaming it, and then it holds a whole value.
    for (const auto& name : entryNames(dir / "store")) {
        if (name != "value" && !namedOnly) {
            EXPECT_TRUE(isWholeValue(contentsOf(dir / "store/" + name))) << name;
        }
    }
    // What is left, the next write removes.
    replaceFileAtomically(dir / "store", "value", "last");
    EXPECT_EQ(entryNames(dir / "store"), std::vector<std::string>{"value"});
    EXPECT_EQ(contentsOf(dir / "store/value"), "last");
}

INSTANTIATE_TEST_SUITE_P(Paths, AtomicFileKilledWriters, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "ThroughANamedTemporary" : "ThroughAnUnnamedTemporary";
                         });

} // namespace
} // namespace velmor
