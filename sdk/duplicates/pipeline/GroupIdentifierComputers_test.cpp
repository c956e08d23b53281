#include "platform/concurrency/CancellationError.hpp"
#include "platform/testing/InfoPlist.hpp"
#include "platform/testing/TemporaryDirectory.hpp"
#include "sdk/duplicates/pipeline/BundleIdAndVersionGroupper.hpp"
#include "sdk/duplicates/pipeline/GroupingTestSupport.hpp"
#include "sdk/duplicates/pipeline/HashGroupper.hpp"
#include "sdk/duplicates/pipeline/ListedFile.hpp"
#include "sdk/duplicates/pipeline/SizeGroupper.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace sweepkit::pipeline {
namespace {

using testing::CountingProbe;
using testing::listedFile;
using velmor::Error;
using velmor::Stat;
using velmor::testing::TemporaryDirectory;

std::string hex(const sweepkit::pipeline::Digest& digest) {
    std::string text;
    for (unsigned char byte : digest.bytes) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text;
}

// The error a computation threw, or nothing when it gave an identifier.
std::optional<Error> failureOf(const HashGroupper& computer, const Event& event) {
    try {
        computer.identifier(event);
    } catch (const velmor::ErrorException& failure) {
        return failure.error();
    }
    return std::nullopt;
}

TEST(SizeGroupper, GivesTheSizeOfNonEmptyEntriesWithAStatusRecord) {
    TemporaryDirectory tmp;
    const std::string folder = tmp.makeDirectory("folder");
    const auto folderStat = *Stat::lstatPath(folder);
    SizeGroupper sizes;
    EXPECT_EQ(sizes.identifier(listedFile(tmp.writeFile("five", "12345"))), 5);
    EXPECT_EQ(sizes.identifier(listedFile(tmp.writeFile("empty"))), std::nullopt);
    EXPECT_EQ(sizes.identifier(Event::enterDirectory(folder, folderStat, true)), folderStat.st_size);
    EXPECT_EQ(sizes.identifier(Event::fileWithNoStat(tmp / "five")), std::nullopt);
    EXPECT_EQ(sizes.identifier(Event::error(tmp / "five", Error::posix(EIO))), std::nullopt);
}

TEST(HashGroupper, DigestsLeadingBytesWithHMACMD5AndAnEmptyKey) {
    TemporaryDirectory tmp;
    const std::string tenThousand(10000, 'a');
    HashGroupper leading(4000, nullptr);
    HashGroupper whole(HashGroupper::wholeFile, nullptr);
    EXPECT_EQ(leading.bufferSize(), 4000);
    EXPECT_EQ(leading.algorithm(), 1u);
    EXPECT_EQ(leading.digestLength(), 16);
    EXPECT_EQ(leading.maxReadSize(), 4000);

    struct Case {
        const char* contents;
        std::string bytes;
        const HashGroupper& computer;
        const char* expected;
    };
    const Case cases[] = {
        {"empty", "", whole, "74e6f7298a9c2d168935f58c001bad88"},
        {"ten digits", "0123456789", leading, "f6e27fe0fc887ad98fcdca64c0734c47"},
        {"ten digits, whole", "0123456789", whole, "f6e27fe0fc887ad98fcdca64c0734c47"},
        {"10,000 a, whole", tenThousand, whole, "a5f4f86fda2d2b2f397660c55e4b2b15"},
    };
    for (const auto& c : cases) {
        auto id = c.computer.identifier(listedFile(tmp.writeFile(c.contents, c.bytes)));
        ASSERT_TRUE(id) << c.contents;
        EXPECT_EQ(hex(*id), c.expected) << c.contents;
    }

    // Only the first 4000 bytes count for the leading digest.
    const std::string a = tmp.writeFile("a", std::string(4000, 'x') + "tail A");
    const std::string b = tmp.writeFile("b", std::string(4000, 'x') + "tail B");
    const std::string exact = tmp.writeFile("exact", std::string(4000, 'x'));
    EXPECT_EQ(leading.identifier(listedFile(a)), leading.identifier(listedFile(b)));
    EXPECT_EQ(leading.identifier(listedFile(a)), whole.identifier(listedFile(exact)));
    EXPECT_NE(whole.identifier(listedFile(a)), whole.identifier(listedFile(b)));
}

TEST(HashGroupper, RefusesAFileThatIsNoLongerTheOneListed) {
    TemporaryDirectory tmp;
    const std::string twin = tmp.writeFile("twin", "same bytes");
    struct Case {
        const char* name;
        std::function<void(const std::string&)> change;
    };
    const Case cases[] = {
        {"replaced by an equal file",
         [&](const std::string& path) {
             ::unlink(path.c_str());
             tmp.writeFile(std::filesystem::path(path).filename(), "same bytes");
         }},
        {"replaced by a link to its twin",
         [&](const std::string& path) {
             ::unlink(path.c_str());
             ASSERT_EQ(::symlink(twin.c_str(), path.c_str()), 0);
         }},
        // A pipe would block a plain open or read for good.
        {"replaced by a pipe",
         [](const std::string& path) {
             ::unlink(path.c_str());
             ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
         }},
        {"rewritten in place",
         [](const std::string& path) {
             struct ::timespec later[2] = {{0, UTIME_OMIT}, {2000000000, 0}};
             ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), later, 0), 0);
         }},
        {"grown", [](const std::string& path) { std::ofstream(path, std::ios::app) << "more"; }},
    };
    HashGroupper whole(HashGroupper::wholeFile, nullptr);
    for (const auto& c : cases) {
        const std::string path = tmp.writeFile(std::string("file ") + c.name, "same bytes");
        const Event event = listedFile(path);
        c.change(path);
        auto failure = failureOf(whole, event);
        ASSERT_TRUE(failure) << c.name;
        EXPECT_EQ(*failure, ListedFile::changedError(path)) << c.name;
        EXPECT_EQ(failure->description(), "The file changed since it was listed.") << c.name;
    }

    // Gone altogether: the system's own reason, with the path.
    const std::string gone = tmp.writeFile("gone", "x");
    const Event event = listedFile(gone);
    ::unlink(gone.c_str());
    EXPECT_EQ(failureOf(whole, event), Error::posixForPath(ENOENT, gone));
}

TEST(HashGroupper, ReadsAsTheUnprivilegedUserWhatItMayAndNamesWhatItMayNot) {
    TemporaryDirectory tmp;
    ASSERT_EQ(::chmod(tmp.path().c_str(), 0755), 0);
    // Owned by root and readable by all: the reader may not keep the access time, and reads anyway.
    const std::string open = tmp.writeFile("open", "0123456789");
    const std::string locked = tmp.writeFile("locked", "0123456789");
    ASSERT_EQ(::chmod(open.c_str(), 0644), 0);
    ASSERT_EQ(::chmod(locked.c_str(), 0600), 0);
    const Event openEvent = listedFile(open);
    const Event lockedEvent = listedFile(locked);

    auto text = testing::runUnprivileged([&] {
        HashGroupper whole(HashGroupper::wholeFile, nullptr);
        const auto digest = whole.identifier(openEvent);
        std::string result = digest ? hex(*digest) : "none";
        auto failure = failureOf(whole, lockedEvent);
        return result + " " + (failure == Error::posixForPath(EACCES, locked) ? "EACCES with path" : "other");
    });
    if (!text) {
        GTEST_SKIP() << "needs root to drop privileges in a child";
    }
    EXPECT_EQ(*text, "f6e27fe0fc887ad98fcdca64c0734c47 EACCES with path");
}

TEST(HashGroupper, LeavesTheAccessTimeAlone) {
    TemporaryDirectory tmp;
    const std::string path = tmp.writeFile("old", std::string(10000, 'o'));
    // An access time older than the modification time is one every mount would bring up to date.
    struct ::timespec times[2] = {{1000000000, 0}, {1500000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    HashGroupper(HashGroupper::wholeFile, nullptr).identifier(listedFile(path));
    EXPECT_EQ(Stat::lstatPath(path)->st_atimespec.tv_sec, 1000000000);
}

TEST(HashGroupper, StopsWithinAChunkOnceCancelled) {
    TemporaryDirectory tmp;
    const std::string large = tmp.writeFile("large");
    ASSERT_EQ(::truncate(large.c_str(), std::int64_t{1} << 34), 0); // 16 GiB, sparse
    auto probe = std::make_shared<CountingProbe>([](int question) { return question >= 2; });
    HashGroupper whole(HashGroupper::wholeFile, nullptr, probe);
    EXPECT_THROW(whole.identifier(listedFile(large)), velmor::CancellationError);
    EXPECT_EQ(probe->asked(), 2);

    // Asked once before each chunk: 4000, 4000 and the last 1000 bytes.
    auto counting = std::make_shared<CountingProbe>();
    HashGroupper(HashGroupper::wholeFile, nullptr, counting)
        .identifier(listedFile(tmp.writeFile("9000", std::string(9000, 'n'))));
    EXPECT_EQ(counting->asked(), 3);
}

TEST(HashGroupper, TakesASmallFilesWholeDigestFromTheLeadingOne) {
    TemporaryDirectory tmp;
    const std::string small = tmp.writeFile("small", std::string(4000, 's'));
    const std::string large = tmp.writeFile("large", std::string(4001, 'l'));
    HashGroupper leading(4000, nullptr);
    HashGroupper whole = leading.readingUpTo(HashGroupper::wholeFile);
    EXPECT_EQ(whole.maxReadSize(), HashGroupper::wholeFile);
    const Event smallEvent = listedFile(small);
    const Event largeEvent = listedFile(large);
    auto smallLeading = leading.identifier(smallEvent);
    leading.identifier(largeEvent);
    ::unlink(small.c_str());
    ::unlink(large.c_str());
    // The small file is not read again; the large one is, and is gone.
    EXPECT_EQ(whole.identifier(smallEvent), smallLeading);
    EXPECT_THROW(whole.identifier(largeEvent), velmor::ErrorException);
    // Another computer of its own shares nothing.
    EXPECT_THROW(HashGroupper(HashGroupper::wholeFile, nullptr).identifier(smallEvent),
                 velmor::ErrorException);
}

TEST(BundleIdAndVersionGroupper, GroupsBundlesByIdentifierAndVersion) {
    TemporaryDirectory tmp;
    auto bundle = [&](const std::string& name, const std::string& entries) {
        tmp.writeFile(name + "/Info.plist", velmor::testing::infoPlistText(entries));
        return Event::enterDirectory(tmp / name, *Stat::lstatPath(tmp / name), true);
    };
    const std::string id = "<key>CFBundleIdentifier</key><string>com.example.tool</string>";
    const Event first = bundle("A.app", id + "<key>CFBundleVersion</key><string>12</string>");
    const Event copy = bundle("B.app", id + "<key>CFBundleVersion</key><string>12</string>");
    const Event otherVersion = bundle("C.app", id + "<key>CFBundleVersion</key><string>13</string>");
    tmp.writeFile("D.app/Contents/Info.plist",
                  velmor::testing::infoPlistText(id + "<key>CFBundleVersion</key><string>12</string>"));
    const Event contentsLayout = Event::enterDirectory(tmp / "D.app", *Stat::lstatPath(tmp / "D.app"), true);

    BundleIdAndVersionGroupper groupper;
    using Identity = BundleIdAndVersionGroupper::BundleIdAndVersion;
    EXPECT_EQ(groupper.identifier(first), (Identity{"com.example.tool", "12", std::nullopt}));
    EXPECT_EQ(groupper.identifier(first), groupper.identifier(copy));
    EXPECT_EQ(groupper.identifier(first), groupper.identifier(contentsLayout));
    EXPECT_NE(groupper.identifier(first), groupper.identifier(otherVersion));

    tmp.makeDirectory("Pipe.app");
    ASSERT_EQ(::mkfifo((tmp / "Pipe.app/Info.plist").c_str(), 0644), 0);
    const Event noIdentity[] = {
        bundle("NoVersion.app", id),
        bundle("NumberVersion.app", id + "<key>CFBundleVersion</key><integer>12</integer>"),
        bundle("NoIdentifier.app", "<key>CFBundleVersion</key><string>12</string>"),
        Event::enterDirectory(tmp / "Pipe.app", *Stat::lstatPath(tmp / "Pipe.app"), true),
        Event::enterDirectory(tmp / "Missing.app", Stat(), true),
    };
    for (const auto& event : noIdentity) {
        EXPECT_EQ(groupper.identifier(event), std::nullopt) << event.path();
    }
}

TEST(BundleIdAndVersionGroupper, IdentitiesCompareAndHashByAllThreeParts) {
    using Identity = BundleIdAndVersionGroupper::BundleIdAndVersion;
    const std::hash<Identity> hash;
    const Identity unsigned1{"com.example", "1", std::nullopt};
    const Identity unsigned2{"com.example", "1", std::nullopt};
    const Identity signedCopy{"com.example", "1", "TEAM"};
    const Identity emptyTeam{"com.example", "1", ""};
    EXPECT_EQ(unsigned1, unsigned2);
    EXPECT_EQ(hash(unsigned1), hash(unsigned2));
    EXPECT_NE(unsigned1, signedCopy);
    EXPECT_NE(unsigned1, emptyTeam);
    EXPECT_NE(hash(unsigned1), hash(emptyTeam));
    EXPECT_NE((Identity{"com.example", "1", std::nullopt}), (Identity{"com.example", "2", std::nullopt}));
    // The parts are hashed apart, not run together.
    EXPECT_NE(hash(Identity{"ab", "c", std::nullopt}), hash(Identity{"a", "bc", std::nullopt}));
}

} // namespace
} // namespace sweepkit::pipeline
