#include "foundation/services/diskimage/DMGMounter.hpp"

#include "foundation/core/log/RecordingLogger.hpp"
#include "foundation/services/diskimage/DMGMounterError.hpp"
#include "foundation/services/diskimage/DMGUnmounter.hpp"
#include "foundation/services/diskimage/DiskImageTool.hpp"
#include "platform/coding/PropertyList.hpp"
#include "platform/dispatch/ManualTimerService.hpp"
#include "platform/testing/ScopedEnvironment.hpp"
#include "platform/testing/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fstream>
#include <future>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace velmor {
namespace {

using coding::Array;
using coding::Object;
using coding::Value;

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

bool contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

NSTask::Bytes bytesOf(const std::string& text) { return NSTask::Bytes(text.begin(), text.end()); }

std::string plist(const Value& value) { return coding::toBinaryPropertyList(value); }

Object entity(const std::string& devEntry, std::optional<std::string> mountPoint, bool mountable = true) {
    Object object{{"dev-entry", devEntry}, {"potentially-mountable", mountable}};
    if (mountPoint) {
        object.set("mount-point", *mountPoint);
    }
    return object;
}

// A stand-in for the disk-image tool: it appends its arguments to "calls", removes the files named in
// "remove" (a detach), prints "out", and exits with the status in "status"; with "hang" it starts a
// child of its own and waits, recording both process ids.
class FakeTool {
public:
    FakeTool()
        : environment_(testing::ScopedEnvironment::Settings{{DiskImageTool::environmentVariable, script()}}) {
        writeFile(script(), "#!/bin/sh\n"
                            "d='" + folder_.path() + "'\n"
                            "echo \"$*\" >> \"$d/calls\"\n"
                            "[ -f \"$d/remove\" ] && xargs rm -f < \"$d/remove\"\n"
                            "if [ -f \"$d/hang\" ]; then sleep 60 & echo $! > \"$d/child\"; echo $$ > \"$d/pid\"; wait; fi\n"
                            "[ -f \"$d/out\" ] && cat \"$d/out\"\n"
                            "exit $(cat \"$d/status\" 2>/dev/null || echo 0)\n");
        ::chmod(script().c_str(), 0755);
    }

    std::string path(const std::string& name) const { return folder_.path() + "/" + name; }
    std::vector<std::string> calls() const { return linesOf(readFile(path("calls"))); }
    void set(const std::string& name, const std::string& text) const { writeFile(path(name), text); }
    // A device entry that stays present while its file exists.
    std::string device(const std::string& name) const {
        writeFile(path(name), "");
        return path(name);
    }

private:
    std::string script() const { return folder_.path() + "/tool"; }
    testing::TemporaryDirectory folder_;
    testing::ScopedEnvironment environment_;
};

struct Logs {
    std::shared_ptr<testing::RecordingLogger> logger = std::make_shared<testing::RecordingLogger>();
    LoggerFactory factory() const {
        return [logger = logger](const std::string&) -> std::shared_ptr<Logger> { return logger; };
    }
    std::vector<std::string> lines() const { return logger->lines(); }
};

TEST(DMGMounterListingTest, ParsesTheListingAndSkipsBadEntries) {
    Logs logs;
    EXPECT_TRUE(DMGMounter::parseInfoOutput(bytesOf(plist(Object{{"images", Array{}}})), std::nullopt, logs.factory())
                    .empty());
    EXPECT_TRUE(contains(logs.lines(), "info: No attached disk images."));

    for (const std::string& output : {plist(Object{{"other", 1}}), std::string("not a plist"), plist(Array{})}) {
        try {
            DMGMounter::parseInfoOutput(bytesOf(output), bytesOf("oops"), logs.factory());
            ADD_FAILURE() << "no error for " << output;
        } catch (const DMGMounterError& error) {
            EXPECT_EQ(error.kind(), DMGMounterError::Case::otherError);
            EXPECT_TRUE(error.hdiutilOutput().starts_with("stdout: "));
            EXPECT_TRUE(error.hdiutilOutput().ends_with("\nstderr: oops"));
        }
    }

    const std::string listing = plist(Object{{"images", Array{
        Object{{"image-path", "/imgs/./a.img"}, {"system-entities", Array{entity("/dev/fake0", "/mnt/a1")}}},
        Object{{"image-path", "/imgs/b.img"}},
        Object{{"image-path", "/imgs//a.img/"}, {"system-entities", Array{entity("/dev/fake1", "/mnt/a2")}}},
        Object{{"image-path", "/imgs/c.img"}, {"system-entities", Array{entity("/dev/fake2", std::nullopt)}}},
        Object{{"system-entities", Array{entity("/dev/fake3", "/mnt/x")}}},
    }}});
    const auto images = DMGMounter::parseInfoOutput(bytesOf(listing), std::nullopt, logs.factory());
    ASSERT_EQ(images.size(), 1u);
    // Both a.img entries standardize to one key; the later wins.
    ASSERT_TRUE(images.contains("/imgs/a.img"));
    EXPECT_EQ(images.at("/imgs/a.img")->partitions().at(0).devEntry(), "/dev/fake1");
    const auto lines = logs.lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.starts_with("error: hdiutil references an attached disk image:/imgs/b.img that has no "
                                "\"system-entities\" entries?! -  output: ");
    }));
}

TEST(DMGMounterListingTest, MakeMountKeepsUnmountableEntitiesOnlyWhenChecking) {
    Logs logs;
    const Array entities{entity("/dev/fake0", std::nullopt, false), entity("/dev/fake1", "/mnt/p", true),
                         entity("/dev/fake2", std::nullopt, true)};
    const auto attach = DMGMounter::makeMount(URL::fileURL("/i.img"), entities, true, logs.factory());
    ASSERT_EQ(attach->partitions().size(), 2u);
    EXPECT_FALSE(attach->partitions()[0].mountPoint());
    EXPECT_FALSE(attach->partitions()[0].wholeDiskDevEntry()); // a device the system does not know
    const auto listed = DMGMounter::makeMount(URL::fileURL("/i.img"), entities, false, logs.factory());
    ASSERT_EQ(listed->partitions().size(), 1u);
    EXPECT_EQ(listed->partitions()[0].mountPoint(), URL::fileURL("/mnt/p"));
    EXPECT_THROW(DMGMounter::makeMount(URL::fileURL("/i.img"), Array{entity("/dev/x", std::nullopt)}, false,
                                       logs.factory()),
                 DMGMounterError);
}

TEST(DMGMounterListingTest, CheckIfAttachedFindsStandardizedKeysAndLinkTargets) {
    FakeTool tool;
    Logs logs;
    const std::string target = tool.device("real.img");
    ::symlink(target.c_str(), tool.path("link.img").c_str());
    tool.set("out", plist(Object{{"images", Array{
        Object{{"image-path", "/imgs/./a.img/"}, {"system-entities", Array{entity("/dev/fake0", "/mnt/a")}}},
        Object{{"image-path", tool.path("link.img")}, {"system-entities", Array{entity("/dev/fake1", "/mnt/b")}}},
    }}}));

    const auto plain = DMGMounter::checkIfAttached(URL::fileURL("/imgs/a.img"), logs.factory());
    ASSERT_TRUE(plain);
    EXPECT_FALSE(plain->symlinkDiskImageURL());
    EXPECT_TRUE(contains(logs.lines(), "info: => /imgs/a.img WAS ALREADY MOUNTED"));

    const auto throughLink = DMGMounter::checkIfAttached(URL::fileURL(target), logs.factory());
    ASSERT_TRUE(throughLink);
    EXPECT_EQ(throughLink->symlinkDiskImageURL(), URL::fileURL(tool.path("link.img")));
    // Named by the listing, not made by attach: a detach leaves it alone.
    EXPECT_FALSE(throughLink->ownsSymlink());

    EXPECT_FALSE(DMGMounter::checkIfAttached(URL::fileURL("/imgs/none.img"), logs.factory()));
    EXPECT_TRUE(contains(logs.lines(), "debug: => /imgs/none.img is NOT MOUNTED"));
    EXPECT_EQ(tool.calls(), std::vector<std::string>(3, "info -plist"));

    tool.set("out", "garbage");
    EXPECT_FALSE(DMGMounter::checkIfAttached(URL::fileURL("/imgs/a.img"), logs.factory()));
    EXPECT_TRUE(contains(logs.lines(), "error: Could not get attached images"));
}

std::shared_ptr<DMGMount> mountOf(std::vector<DMGPartition> partitions) {
    auto mount = std::make_shared<DMGMount>(Logs().factory());
    mount->setInternalDiskImageURL(URL::fileURL("/imgs/x.img"));
    mount->setPartitions(std::move(partitions));
    return mount;
}

TEST(DMGMounterDetachTest, JudgesByWhatIsLeftNotByTheStatus) {
    FakeTool tool;
    const std::string gone = tool.path("gone");
    const struct {
        const char* name;
        const char* status;
        bool removes;
        bool succeeds;
    } cases[] = {
        {"busy but gone", "16", true, true},
        {"zero but present", "0", false, false},
        {"zero and gone", "0", true, true},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.name);
        Logs logs;
        const std::string device = tool.device("dev");
        tool.set("status", item.status);
        tool.set("remove", item.removes ? device : "");
        ::unlink(tool.path("calls").c_str());
        // The gone partition is never chosen: its device may serve another image by now.
        auto mount = mountOf({DMGPartition(std::nullopt, gone, std::nullopt), DMGPartition(std::nullopt, device, std::nullopt)});
        if (item.succeeds) {
            EXPECT_NO_THROW(DMGMounter::detach(mount, false, false, logs.factory()));
            EXPECT_TRUE(contains(logs.lines(), "debug: " + mount->description() + " effectively unmounted AND detached :-)"));
        } else {
            EXPECT_THROW(DMGMounter::detach(mount, false, false, logs.factory()), DMGMounterError);
            const DMGPartition& present = mount->partitions()[1];
            EXPECT_TRUE(contains(logs.lines(), "info: Failed to detach  " + mount->description() + " because " +
                                                   present.description() +
                                                   " is mounted: false, attached:true, wholeDiskAttached: false."));
        }
        EXPECT_EQ(tool.calls(), std::vector<std::string>{"detach " + device});
        EXPECT_EQ(contains(logs.lines(), "info: Failed to detach  " + mount->description() +
                                             "\nhdiutil returned: 16 (EBUSY. Resources on the disk image are still in use.)"),
                  std::string(item.status) == "16");
    }
}

TEST(DMGMounterDetachTest, RunsNoToolWhenNothingIsPresentAndForcesWholeDisks) {
    FakeTool tool;
    Logs logs;
    auto none = mountOf({DMGPartition(std::nullopt, tool.path("gone"), std::nullopt)});
    EXPECT_THROW(DMGMounter::detach(none, true, false, logs.factory()), DMGMounterError);
    EXPECT_TRUE(contains(logs.lines(), "info: " + none->description() + " is not mounted. Can't detach."));
    EXPECT_TRUE(contains(logs.lines(), "debug: Detaching (-force) " + none->description()));
    EXPECT_NO_THROW(DMGMounter::detach(none, true, true, logs.factory()));
    EXPECT_TRUE(tool.calls().empty());

    // A partition known only by its whole disk: "/dev/" + the entry must exist for it to be present.
    // The device entries of /dev are real; the null device stands for a present whole disk.
    auto whole = mountOf({DMGPartition(std::nullopt, std::nullopt, std::string("null"))});
    tool.set("status", "0");
    EXPECT_THROW(DMGMounter::detach(whole, true, false, logs.factory()), DMGMounterError);
    EXPECT_EQ(tool.calls(), std::vector<std::string>{"detach null -force"});
}

TEST(DMGMounterUnmountTest, RetriesTenTimesWhileStillMountedAndSkipsPartitionsWithoutTarget) {
    FakeTool tool;
    Logs logs;
    std::vector<std::chrono::seconds> pauses;
    const dmgmounter::Sleeper record = [&](std::chrono::seconds pause) { pauses.push_back(pause); };
    // "/" stays mounted whatever the tool does.
    const DMGPartition stuck(URL::fileURL("/"), std::nullopt, std::nullopt);
    EXPECT_THROW(DMGMounter::unmount(stuck, true, logs.factory(), record), DMGMounterError);
    EXPECT_EQ(tool.calls(), std::vector<std::string>(10, "unmount / -force"));
    std::vector<std::chrono::seconds> expected;
    for (int k = 1; k <= 9; ++k) {
        expected.emplace_back(k);
    }
    EXPECT_EQ(pauses, expected);
    EXPECT_TRUE(contains(logs.lines(), "error: Failed to unmount (-force) " + stuck.description() +
                                           " because it's still mounted!"));

    ::unlink(tool.path("calls").c_str());
    pauses.clear();
    EXPECT_NO_THROW(DMGMounter::unmount(DMGPartition(std::nullopt, std::nullopt, std::nullopt), false, logs.factory(), record));
    EXPECT_TRUE(tool.calls().empty());
    EXPECT_TRUE(pauses.empty());
}

bool processGone(pid_t pid) {
    for (int tries = 0; tries < 500; ++tries) {
        const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
        // A zombie child of another parent is gone for our purposes.
        if (stat.empty() || stat.find(") Z ") != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST(DMGMounterTimeoutTest, KillsAndReapsTheToolAndItsChildren) {
    FakeTool tool;
    Logs logs;
    tool.set("hang", "");
    const double previous = DMGMounter::toolTimeout();
    DMGMounter::setToolTimeout(0.3);
    const std::string device = tool.device("dev");
    auto mount = mountOf({DMGPartition(std::nullopt, device, std::nullopt)});
    const std::function<void()> runs[] = {
        [&] { EXPECT_THROW(DMGMounter::detachImageOnce(*mount, false, logs.factory()), TypedError<DMGMount::DMGMountError>); },
        [&] { EXPECT_THROW(DMGMounter::runHdiutilUnmount(mount->partitions()[0], false, logs.factory()), TypedError<DMGMount::DMGMountError>); },
        [&] { EXPECT_THROW(DMGMounter::attachedDiskImages(logs.factory()), ErrorException); },
    };
    for (const auto& run : runs) {
        ::unlink(tool.path("pid").c_str());
        run();
        const pid_t pid = std::stoi(readFile(tool.path("pid")));
        const pid_t child = std::stoi(readFile(tool.path("child")));
        EXPECT_EQ(::kill(pid, 0), -1) << "the tool is still there or unreaped";
        EXPECT_TRUE(processGone(child));
    }
    DMGMounter::setToolTimeout(previous);
    EXPECT_TRUE(contains(logs.lines(), "info: Timeout when detaching  " + mount->description() + " - will kill hdiutil process"));
}

TEST(DMGMounterLinkTest, RemovesOnlyItsOwnLinkAndItsEmptyFolder) {
    FakeTool tool;
    Logs logs;
    const std::string image = tool.device("image.img");
    ::mkdir(tool.path("links").c_str(), 0700);
    const std::string owned = tool.path("links/image.img");
    ::symlink(image.c_str(), owned.c_str());
    const std::string device = tool.device("dev");
    tool.set("remove", device);

    auto mount = mountOf({DMGPartition(std::nullopt, device, std::nullopt)});
    mount->setSymlinkDiskImageURL(URL::fileURL(owned));
    mount->setOwnsSymlink(true);
    DMGMounter::detach(mount, false, false, logs.factory());
    EXPECT_NE(::access(tool.path("links").c_str(), F_OK), 0);

    // The user's link and a real image reached through a linked folder stay.
    ::symlink(image.c_str(), tool.path("users-link.img").c_str());
    ::symlink(tool.path("").c_str(), tool.path("folder-link").c_str());
    for (const std::string& named : {tool.path("users-link.img"), tool.path("folder-link/image.img")}) {
        tool.device("dev");
        auto other = mountOf({DMGPartition(std::nullopt, device, std::nullopt)});
        other->setSymlinkDiskImageURL(URL::fileURL(named));
        DMGMounter::detach(other, false, false, logs.factory());
        EXPECT_EQ(::access(named.c_str(), F_OK), 0) << named;
    }
    // Even when owned, what is there now is no link: it stays.
    DMGMounter::removeOwnedLink(URL::fileURL(image), true);
    EXPECT_EQ(::access(image.c_str(), F_OK), 0);
}

// Drives the background detacher on a manual clock over the fake tool.
class DMGUnmounterTest : public ::testing::Test {
protected:
    std::size_t linesStarting(const std::string& prefix) const {
        const auto lines = logs.lines();
        return static_cast<std::size_t>(std::count_if(
            lines.begin(), lines.end(), [&](const std::string& line) { return line.starts_with(prefix); }));
    }
    // Waits (real time, bounded) until `count` attempts have failed and the next pause is booked.
    void waitForFailedAttempts(std::size_t count) {
        for (int tries = 0; tries < 3000 && linesStarting("error: Failed to detach  <Partition") < count; ++tries) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ASSERT_EQ(linesStarting("error: Failed to detach  <Partition"), count);
        ASSERT_TRUE(clock->waitForPending(1));
    }
    void flush(const DMGUnmounter& unmounter) const { unmounter.detachQueue().sync([] {}); }

    std::shared_ptr<ManualTimerService> clock = std::make_shared<ManualTimerService>();
    ScopedTimerService scope{clock};
    FakeTool tool;
    Logs logs;
    std::shared_ptr<DMGUnmounter> unmounter = DMGUnmounter::make();
};

TEST_F(DMGUnmounterTest, RetriesWithGrowingPausesAndStopsAtShutdown) {
    tool.set("status", "16");
    // "/" stays mounted: every attempt fails.
    auto mount = mountOf({DMGPartition(URL::fileURL("/"), tool.device("dev"), std::nullopt)});
    int completions = 0;
    unmounter->detachRetryingForever(*mount, logs.factory(),
                                     [&](const std::vector<DMGPartition>&, const std::optional<URL>&) { ++completions; });
    waitForFailedAttempts(1);
    std::size_t attempts = 1;
    for (const double pause : {60.0, 120.0, 240.0, 300.0, 300.0}) {
        clock->advance(pause - 1);
        flush(*unmounter);
        ASSERT_EQ(tool.calls().size(), attempts) << "attempt before its pause of " << pause << " s";
        clock->advance(1);
        waitForFailedAttempts(++attempts);
    }
    const std::string P = mount->partitions()[0].description();
    for (std::size_t k = 0; k < attempts; ++k) {
        EXPECT_TRUE(contains(logs.lines(), "debug: Retrying (attempt: " + std::to_string(k) + "  to detach " + P));
    }
    EXPECT_EQ(unmounter->pendingImageCount(), 1u);
    unmounter->shutdown();
    EXPECT_EQ(unmounter->pendingImageCount(), 0u);
    clock->advance(1000);
    flush(*unmounter);
    EXPECT_EQ(tool.calls().size(), attempts);
    EXPECT_EQ(completions, 0);
}

TEST_F(DMGUnmounterTest, ASuccessRemovesOnlyItsOwnSchedulerAndAGoneDeviceEndsTheLoop) {
    tool.set("status", "16");
    testing::TemporaryDirectory unmounted;
    const std::string stuckDevice = tool.device("stuck");
    auto stuck = mountOf({DMGPartition(URL::fileURL("/"), stuckDevice, std::nullopt)});
    auto freed = mountOf({DMGPartition(std::nullopt, tool.device("other"), std::nullopt),
                          DMGPartition(URL::fileURL(unmounted.path()), tool.device("freed"), std::nullopt)});
    std::vector<std::string> completed;
    const auto completion = [&](const std::string& name) {
        return [&completed, name](const std::vector<DMGPartition>& present, const std::optional<URL>& image) {
            EXPECT_FALSE(present.empty());
            EXPECT_EQ(image, URL::fileURL("/imgs/x.img"));
            completed.push_back(name);
        };
    };
    unmounter->detachRetryingForever(*stuck, logs.factory(), completion("stuck"));
    unmounter->detachRetryingForever(*freed, logs.factory(), completion("freed"));
    waitForFailedAttempts(1);
    // The second image's first attempt is queued by its start, which may run only after the first
    // image's attempt: the start is done after one turn of the queue, its attempt after a second.
    flush(*unmounter);
    flush(*unmounter);
    EXPECT_EQ(completed, std::vector<std::string>{"freed"});
    EXPECT_EQ(unmounter->pendingImageCount(), 1u);
    // Only the first present partition with a mount point is acted on.
    EXPECT_EQ(tool.calls(), (std::vector<std::string>{"detach " + stuckDevice, "detach " + tool.path("freed")}));

    // The stuck image's device is freed (and may serve another image): no tool runs on it again.
    ::unlink(stuckDevice.c_str());
    clock->advance(60);
    flush(*unmounter);
    EXPECT_EQ(completed, (std::vector<std::string>{"freed", "stuck"}));
    EXPECT_EQ(unmounter->pendingImageCount(), 0u);
    EXPECT_EQ(tool.calls().size(), 2u);
}

TEST_F(DMGUnmounterTest, HandOffsThatCannotStart) {
    auto gone = mountOf({DMGPartition(URL::fileURL("/"), tool.path("none"), std::nullopt)});
    unmounter->detachRetryingForever(*gone, logs.factory(), nullptr);
    EXPECT_TRUE(contains(logs.lines(), "info: " + gone->description() + " seems already detached. Will stop trying to detach."));
    auto noMountPoint = mountOf({DMGPartition(std::nullopt, tool.device("a"), std::nullopt),
                                 DMGPartition(std::nullopt, std::nullopt, std::string("null"))});
    EXPECT_THROW(unmounter->detachRetryingForever(*noMountPoint, logs.factory(), nullptr),
                 TypedError<DMGUnmounter::DMGUnmounterError>);
    EXPECT_TRUE(contains(logs.lines(), "debug: " + noMountPoint->description() +
                                           " does not contain any partition with a mount point. `devEntries` were ([Optional(\"" +
                                           tool.path("a") + "\"), nil]). STOPPING DETACHING."));
    flush(*unmounter);
    EXPECT_TRUE(tool.calls().empty());
    EXPECT_EQ(unmounter->pendingImageCount(), 0u);
}

TEST_F(DMGUnmounterTest, AnOwnedLinkStaysUntilABackgroundAttemptSucceeds) {
    DMGUnmounter::resetShared();
    const auto shared = DMGUnmounter::shared();
    testing::TemporaryDirectory unmounted;
    ::mkdir(tool.path("links").c_str(), 0700);
    const std::string link = tool.path("links/image.img");
    ::symlink(tool.device("image.img").c_str(), link.c_str());
    // The device stays, so the whole-image detach fails; the mount point is not mounted, so the
    // background attempt succeeds.
    auto mount = mountOf({DMGPartition(URL::fileURL(unmounted.path()), tool.device("dev"), std::nullopt)});
    mount->setSymlinkDiskImageURL(URL::fileURL(link));
    mount->setOwnsSymlink(true);

    std::promise<void> release;
    shared->detachQueue().async([future = release.get_future().share()] { future.wait(); });
    EXPECT_NO_THROW(DMGMounter::detach(mount, false, true, logs.factory()));
    EXPECT_EQ(::access(link.c_str(), F_OK), 0);
    release.set_value();
    flush(*shared);
    flush(*shared);
    EXPECT_NE(::access(tool.path("links").c_str(), F_OK), 0);
    DMGUnmounter::resetShared();
}

} // namespace
} // namespace velmor
