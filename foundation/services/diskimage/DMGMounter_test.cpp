#include "foundation/services/diskimage/DMGMounter.hpp"

#include "foundation/core/log/RecordingLogger.hpp"
#include "foundation/services/diskimage/DMGMounterError.hpp"
#include "foundation/services/diskimage/DMGUnmounter.hpp"
#include "foundation/services/diskimage/DiskImageTool.hpp"
#include "foundation/services/diskimage/FakeDiskImageTool.hpp"
#include "platform/coding/PropertyList.hpp"
#include "platform/dispatch/ManualTimerService.hpp"
#include "platform/testing/ScopedEnvironment.hpp"
#include "platform/testing/TemporaryDirectory.hpp"
#include "platform/uuid/UUID.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <filesystem>
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

using FakeTool = testing::FakeDiskImageTool;

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

// The tool writes a path that XML cannot hold as its file URL text, an image's or a mount point's;
// the listing keys an image by the path's own bytes, and an entry whose text reads as no path is the
// only one dropped.
TEST(DMGMounterListingTest, ReadsImagePathsWrittenAsFileURLs) {
    Logs logs;
    const std::string odd = "/imgs/bad\xff\xfe\x01name.img";
    const std::string oddMount = "/media/ctl\x01\x1b";
    const std::string listing = plist(Object{{"images", Array{
        Object{{"image-path", URL::fileURL(odd).absoluteString()},
               {"system-entities", Array{entity("/dev/fake0", URL::fileURL(oddMount).absoluteString())}}},
        Object{{"image-path", "file://no-path"}, {"system-entities", Array{entity("/dev/fake1", "/mnt/x")}}},
        Object{{"image-path", "/imgs/plain.img"}, {"system-entities", Array{entity("/dev/fake2", "/mnt/p")}}},
    }}});
    const auto images = DMGMounter::parseInfoOutput(bytesOf(listing), std::nullopt, logs.factory());
    ASSERT_EQ(images.size(), 2u);
    ASSERT_TRUE(images.contains(odd));
    EXPECT_EQ(images.at(odd)->partitions().at(0).devEntry(), "/dev/fake0");
    EXPECT_EQ(images.at(odd)->internalDiskImageURL(), URL::fileURL(odd));
    EXPECT_EQ(images.at(odd)->partitions().at(0).mountPoint(), URL::fileURL(oddMount));
    EXPECT_TRUE(images.contains("/imgs/plain.img"));
}

// However the caller names an attached image, through a link to it or through a linked folder, it is
// the image the listing names by its real path.
TEST(DMGMounterListingTest, CheckIfAttachedResolvesTheGivenPath) {
    FakeTool tool;
    Logs logs;
    char buffer[PATH_MAX];
    ASSERT_NE(::realpath(tool.path("").c_str(), buffer), nullptr);
    const std::string real = std::string(buffer) + "/real";
    ASSERT_EQ(::mkdir(real.c_str(), 0700), 0);
    const std::string target = real + "/target.img";
    std::ofstream(target) << "";
    ASSERT_EQ(::symlink(target.c_str(), tool.path("link-to-target.img").c_str()), 0);
    ASSERT_EQ(::symlink(real.c_str(), tool.path("linked-folder").c_str()), 0);
    tool.set("out", plist(Object{{"images", Array{
        Object{{"image-path", target}, {"system-entities", Array{entity("/dev/fake0", "/mnt/t")}}},
    }}}));
    for (const std::string& given : {tool.path("link-to-target.img"), tool.path("linked-folder/target.img")}) {
        const auto found = DMGMounter::checkIfAttached(URL::fileURL(given), logs.factory());
        ASSERT_TRUE(found) << given;
        EXPECT_EQ(found->partitions().at(0).devEntry(), "/dev/fake0") << given;
        EXPECT_TRUE(contains(logs.lines(), "info: => " + given + " WAS ALREADY MOUNTED")) << given;
    }
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
        EXPECT_TRUE(tool.hungRunIsGone());
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

// What the tool prints for an attach: a property list of the given entities, header first.
struct AttachEntity {
    std::string devEntry;
    std::optional<std::string> mountPoint;
    bool mountable = true;
};

std::string attachPlist(const std::vector<AttachEntity>& entities) {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                       "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                       "<plist version=\"1.0\">\n<dict>\n<key>system-entities</key>\n<array>\n";
    for (const auto& item : entities) {
        text += "<dict><key>dev-entry</key><string>" + item.devEntry + "</string><key>potentially-mountable</key>" +
                (item.mountable ? "<true/>" : "<false/>");
        if (item.mountPoint) {
            text += "<key>mount-point</key><string>" + *item.mountPoint + "</string>";
        }
        text += "</dict>\n";
    }
    return text + "</array>\n</dict>\n</plist>\n";
}

std::string listing(const std::string& imagePath, const std::string& devEntry, const std::string& mountPoint) {
    return plist(Object{{"images", Array{Object{{"image-path", imagePath},
                                                {"system-entities", Array{entity(devEntry, mountPoint)}}}}}});
}

const std::vector<std::string> attachArguments{"attach",     "-plist", "-noverify", "-noautoopen",
                                               "-noautofsck", "-owners", "off",      "-nobrowse",
                                               "-readonly",  "-mountrandom", "/private/tmp/"};

std::string joined(std::vector<std::string> words, const std::string& last) {
    words.push_back(last);
    std::string text;
    for (const auto& word : words) {
        text += (text.empty() ? "" : " ") + word;
    }
    return text;
}

// The tool and the temporary directory of one attach test.
struct AttachFixture {
    AttachFixture() { tool.set("out-info", plist(Object{{"images", Array{}}})); }

    std::vector<std::string> entriesOfTemporaryDirectory() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(temporary.path())) {
            names.push_back(entry.path().filename());
        }
        return names;
    }

    FakeTool tool;
    Logs logs;
    testing::TemporaryDirectory temporary;
    testing::ScopedEnvironment environment{testing::ScopedEnvironment::Settings{{"TMPDIR", temporary.path()}}};
    testing::TemporaryDirectory images;
    std::vector<std::chrono::seconds> pauses;
    dmgmounter::Sleeper sleeper = [this](std::chrono::seconds pause) { pauses.push_back(pause); };
};

TEST(DMGMounterAttachTest, PreparesALinkOnlyForUnsupportedExtensions) {
    AttachFixture fixture;
    const struct {
        const char* name;
        const char* linkName; // none: the image is used as it is
    } cases[] = {{"Photo.ISO", nullptr}, {"a.sparsebundle", nullptr}, {"backup.toast2", "backup.toast2.dmg"},
                 {"image", "image.dmg"}};
    for (const auto& item : cases) {
        SCOPED_TRACE(item.name);
        const URL image = URL::fileURL(fixture.images / item.name);
        const auto prepared = DMGMounter::prepareDiskImageURL(image, fixture.logs.factory());
        if (item.linkName == nullptr) {
            EXPECT_FALSE(prepared.isLink);
            EXPECT_EQ(prepared.url, image);
            continue;
        }
        ASSERT_TRUE(prepared.isLink);
        EXPECT_EQ(prepared.url.lastPathComponent(), item.linkName);
        const URL folder = prepared.url.deletingLastPathComponent();
        EXPECT_EQ(folder.deletingLastPathComponent().path(), fixture.temporary.path());
        const auto uuid = UUID::fromString(folder.lastPathComponent());
        ASSERT_TRUE(uuid) << folder.path();
        EXPECT_EQ(uuid->uuidString(), folder.lastPathComponent()) << "not upper case";
        EXPECT_EQ(std::filesystem::read_symlink(prepared.url.path()).string(), image.path());
        EXPECT_TRUE(contains(fixture.logs.lines(), "info: unsupported disk image file extension for file: '" +
                                                       image.path() + "', symlinked to: '" + prepared.url.path() + "'"));
    }
    EXPECT_EQ(fixture.entriesOfTemporaryDirectory().size(), 2u);
}

TEST(DMGMounterAttachTest, AFailedLinkThrowsItsFileErrorAndLeavesNoFolder) {
    AttachFixture fixture;
    // The link's name, with ".dmg" added, is one byte too long for the file system.
    const URL longName = URL::fileURL(fixture.images / std::string(252, 'x'));
    const std::string notAFolder = fixture.images.writeFile("file");
    const struct {
        const char* name;
        URL image;
        std::optional<std::string> temporaryDirectory;
        int code;
    } cases[] = {
        {"link name too long", longName, std::nullopt, ENAMETOOLONG},
        {"temporary directory is a file", URL::fileURL(fixture.images / "image"), notAFolder, ENOTDIR},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.name);
        std::optional<testing::ScopedEnvironment> temporary;
        if (item.temporaryDirectory) {
            temporary.emplace(testing::ScopedEnvironment::Settings{{"TMPDIR", item.temporaryDirectory}});
        }
        try {
            DMGMounter::attach(item.image, std::nullopt, true, fixture.logs.factory(), fixture.sleeper);
            ADD_FAILURE() << "no error";
        } catch (const ErrorException& error) {
            EXPECT_EQ(error.error().domain(), Error::posixDomain);
            EXPECT_EQ(error.error().code(), item.code);
        }
    }
    EXPECT_TRUE(fixture.entriesOfTemporaryDirectory().empty());
    EXPECT_TRUE(fixture.tool.calls().empty());
    EXPECT_TRUE(fixture.pauses.empty());
}

TEST(DMGMounterAttachTest, HandsTheToolItsArgumentsAndInput) {
    const struct {
        const char* name;
        std::optional<std::string> password;
        NSTask::Bytes input;
    } cases[] = {
        {"no password", std::nullopt, {0x0A, 0x59, 0x0A}},
        {"empty password", std::string(), {0x00, 0x0A, 0x0A, 0x59, 0x0A}},
        {"password", std::string("p\xC3\xA4ss"), {'p', 0xC3, 0xA4, 's', 's', 0x00, 0x0A, 0x0A, 0x59, 0x0A}},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.name);
        AttachFixture fixture;
        const std::string image = fixture.images.writeFile("disk.img");
        const std::string device = fixture.tool.device("dev");
        fixture.tool.set("out-attach", attachPlist({{device, std::string("/mnt/disk")}}));
        const auto mount = DMGMounter::attach(URL::fileURL(image), item.password, false, fixture.logs.factory());
        std::vector<std::string> arguments = attachArguments;
        if (item.password) {
            arguments.push_back("-stdinpass");
        }
        EXPECT_EQ(fixture.tool.calls(), (std::vector<std::string>{"info -plist", joined(arguments, image)}));
        EXPECT_EQ(bytesOf(fixture.tool.input()), item.input); // the attach ran last
        ASSERT_EQ(mount->partitions().size(), 1u);
        EXPECT_EQ(mount->partitions()[0], DMGPartition(URL::fileURL("/mnt/disk"), device, std::nullopt));
        EXPECT_EQ(mount->diskImageURL(), URL::fileURL(image));
        EXPECT_EQ(mount->internalDiskImageURL(), URL::fileURL(image));
        EXPECT_FALSE(mount->symlinkDiskImageURL());
        EXPECT_FALSE(mount->deinitDetachBlock());
        if (!item.password) {
            const std::string dashes(54, '-');
            EXPECT_TRUE(contains(fixture.logs.lines(), "debug: " + dashes + "\nattempting to attach: '" + image +
                                                           "'\nprocess 'hdiutil" + joined(arguments, image) +
                                                           "' exited with code 0\nstdout: " +
                                                           attachPlist({{device, std::string("/mnt/disk")}}) +
                                                           "\nstderr: \n" + dashes));
        }
    }
}

TEST(DMGMounterAttachTest, ReadsThePropertyListAfterTheLastHeader) {
    Logs logs;
    const URL image = URL::fileURL("/imgs/a.img");
    const std::string first = attachPlist({{"/dev/fake0", std::string("/mnt/first")}});
    const std::string second = attachPlist({{"/dev/fake1", std::string("/mnt/second")}});
    const struct {
        const char* name;
        std::string output;
        std::string mountPoint;
    } readable[] = {
        {"agreement before the list", "Agreement: do you accept? Y\n" + first, "/mnt/first"},
        {"two lists", first + second, "/mnt/second"},
    };
    for (const auto& item : readable) {
        SCOPED_TRACE(item.name);
        const auto mount = DMGMounter::parseAttachOutput(image, bytesOf(item.output), std::nullopt, logs.factory());
        ASSERT_EQ(mount->partitions().size(), 1u);
        EXPECT_EQ(mount->partitions()[0].mountPoint(), URL::fileURL(item.mountPoint));
        EXPECT_EQ(mount->internalDiskImageURL(), image);
    }

    const std::string header = first.substr(0, first.find("<dict>"));
    const struct {
        const char* name;
        std::string output;
    } unreadable[] = {
        {"no header", "hdiutil: attach failed - no such file"},
        {"binary list without header", plist(Object{{"system-entities", Array{entity("/dev/fake0", "/mnt/a")}}})},
        {"no dictionary", header + "<array/>\n</plist>\n"},
        {"no system-entities", header + "<dict><key>images</key><array/></dict>\n</plist>\n"},
        {"entities not an array", header + "<dict><key>system-entities</key><true/></dict>\n</plist>\n"},
        {"broken list", header + "<dict><key>system-entities</key>"},
    };
    for (const auto& item : unreadable) {
        SCOPED_TRACE(item.name);
        try {
            DMGMounter::parseAttachOutput(image, bytesOf(item.output), bytesOf("boom"), logs.factory());
            ADD_FAILURE() << "no error";
        } catch (const DMGMounterError& error) {
            EXPECT_EQ(error.kind(), DMGMounterError::Case::otherError);
            EXPECT_EQ(error.hdiutilOutput(), "stdout: " + (item.name == std::string("binary list without header")
                                                                ? std::string()
                                                                : item.output) +
                                                 "\nstderr: boom");
        }
    }

    // Entities that cannot be mounted are kept without mount point; mountable ones without one are dropped.
    const auto mount = DMGMounter::parseAttachOutput(
        image,
        bytesOf(attachPlist({{"/dev/fake0", std::nullopt, false}, {"/dev/fake1", std::nullopt, true},
                             {"/dev/fake2", std::string("/mnt/b"), true}})),
        std::nullopt, logs.factory());
    EXPECT_EQ(mount->partitions(), (std::vector<DMGPartition>{DMGPartition(std::nullopt, "/dev/fake0", std::nullopt),
                                                              DMGPartition(URL::fileURL("/mnt/b"), "/dev/fake2",
                                                                           std::nullopt)}));
    try {
        DMGMounter::parseAttachOutput(image, bytesOf(attachPlist({{"/dev/fake1", std::nullopt, true}})), std::nullopt,
                                      logs.factory());
        ADD_FAILURE() << "no error";
    } catch (const DMGMounterError& error) {
        EXPECT_EQ(error.kind(), DMGMounterError::Case::noPartitionsAvailable);
    }
}

// The tool runs that hung, each killed with its child and reaped.
void expectHungToolsGone(const FakeTool& tool, std::size_t count) {
    const auto hung = tool.hungRuns();
    EXPECT_EQ(hung.size(), count);
    for (const auto& [pid, child] : hung) {
        EXPECT_TRUE(FakeTool::isGone(pid, child)) << "tool " << pid << " or its child " << child;
    }
}

class DMGMounterAttachAttemptsTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousTimeout = DMGMounter::toolTimeout();
        DMGMounter::setToolTimeout(0.3);
    }
    void TearDown() override { DMGMounter::setToolTimeout(previousTimeout); }

    std::shared_ptr<DMGMount> attach() {
        return DMGMounter::attach(URL::fileURL(image), std::nullopt, true, fixture.logs.factory(), fixture.sleeper);
    }

    double previousTimeout = 0;
    AttachFixture fixture;
    std::string image = fixture.images.writeFile("disk.img");
    std::string device = fixture.tool.device("dev");
};

TEST_F(DMGMounterAttachAttemptsTest, AnImageAttachedBeforeTheCallIsReportedWithoutRunningAttach) {
    fixture.tool.set("out-info", listing(image, device, "/mnt/disk"));
    try {
        attach();
        ADD_FAILURE() << "no error";
    } catch (const DMGMounterError& error) {
        ASSERT_EQ(error.kind(), DMGMounterError::Case::alreadyMounted);
        EXPECT_EQ(error.mount()->diskImageURL(), URL::fileURL(image));
        EXPECT_FALSE(error.mount()->symlinkDiskImageURL());
        EXPECT_FALSE(error.mount()->deinitDetachBlock());
    }
    EXPECT_EQ(fixture.tool.calls(), std::vector<std::string>{"info -plist"});
    EXPECT_TRUE(contains(fixture.logs.lines(), "info: " + image + " was already mounted"));
    EXPECT_TRUE(fixture.pauses.empty());
}

TEST_F(DMGMounterAttachAttemptsTest, AnAttemptThatFindsTheImageAttachedAfterATimeOutSucceeds) {
    fixture.tool.set("hang-attach", "");
    // During the pause, the timed-out attach turns out to have attached the image.
    fixture.sleeper = [this](std::chrono::seconds pause) {
        fixture.pauses.push_back(pause);
        fixture.tool.set("out-info", listing(image, device, "/mnt/disk"));
    };
    const auto mount = attach();
    EXPECT_EQ(fixture.pauses, std::vector<std::chrono::seconds>{std::chrono::seconds(1)});
    EXPECT_EQ(fixture.tool.calls().size(), 3u); // info, attach, info
    ASSERT_EQ(mount->partitions().size(), 1u);
    EXPECT_EQ(mount->diskImageURL(), URL::fileURL(image));
    EXPECT_TRUE(contains(fixture.logs.lines(),
                         "info: Declare " + mount->description() +
                             " as mounted sucessfully. It failed on first attempt but was successfully mounted on a "
                             "next attempt."));
    expectHungToolsGone(fixture.tool, 1);
}

TEST_F(DMGMounterAttachAttemptsTest, ThreeTimeOutsThrowTheTimeOutAfterPausesOfOneAndTwoSeconds) {
    fixture.tool.set("hang-attach", "");
    EXPECT_THROW(attach(), TypedError<DMGMount::DMGMountError>);
    EXPECT_EQ(fixture.pauses, (std::vector<std::chrono::seconds>{std::chrono::seconds(1), std::chrono::seconds(2)}));
    EXPECT_EQ(fixture.tool.calls().size(), 6u);
    expectHungToolsGone(fixture.tool, 3);
}

TEST_F(DMGMounterAttachAttemptsTest, OutputWithoutAListFailsEveryAttempt) {
    fixture.tool.set("out-attach", "hdiutil: attach failed - No such file or directory\n");
    try {
        attach();
        ADD_FAILURE() << "no error";
    } catch (const DMGMounterError& error) {
        EXPECT_EQ(error.kind(), DMGMounterError::Case::otherError);
        EXPECT_EQ(error.hdiutilOutput(), "stdout: hdiutil: attach failed - No such file or directory\n\nstderr: ");
    }
    EXPECT_EQ(fixture.pauses, (std::vector<std::chrono::seconds>{std::chrono::seconds(1), std::chrono::seconds(2)}));
    EXPECT_EQ(fixture.tool.calls().size(), 6u);
    EXPECT_TRUE(contains(fixture.logs.lines(), "debug: Failed to attach " + URL::fileURL(image).absoluteString() +
                                                   ".\nhdiutil:\nstdout: hdiutil: attach failed - No such file or "
                                                   "directory\n\nstderr: "));
}

TEST(DMGMounterAttachTest, ReleasingAnAutoDetachingMountDetachesItAndRemovesItsLink) {
    const struct {
        const char* name;
        bool busy; // the whole-image detach fails: the background detacher takes over
    } cases[] = {{"free", false}, {"busy", true}};
    for (const auto& item : cases) {
        SCOPED_TRACE(item.name);
        AttachFixture fixture;
        auto clock = std::make_shared<ManualTimerService>();
        ScopedTimerService scope{clock};
        DMGUnmounter::resetShared();
        const auto unmounter = DMGUnmounter::shared();
        const std::string image = fixture.images.writeFile("image");
        const std::string device = fixture.tool.device("dev");
        testing::TemporaryDirectory unmounted;
        fixture.tool.set("out-attach", attachPlist({{device, unmounted.path()}}));
        auto mount = DMGMounter::attach(URL::fileURL(image), std::nullopt, true, fixture.logs.factory());
        const URL link = *mount->symlinkDiskImageURL();
        EXPECT_EQ(link.lastPathComponent(), "image.dmg");
        EXPECT_TRUE(mount->ownsSymlink());
        EXPECT_EQ(fixture.tool.calls().back(), joined(attachArguments, link.path()));

        if (!item.busy) {
            fixture.tool.set("remove", device);
        }
        std::promise<void> release;
        unmounter->detachQueue().async([future = release.get_future().share()] { future.wait(); });
        mount.reset();
        EXPECT_EQ(fixture.tool.calls().back(), "detach " + device);
        // A busy image keeps its link until the background detach has done its work.
        EXPECT_EQ(testing::exists(link.path()), item.busy);
        release.set_value();
        unmounter->detachQueue().sync([] {});
        unmounter->detachQueue().sync([] {});
        EXPECT_EQ(fixture.tool.calls().size(), item.busy ? 4u : 3u);
        EXPECT_TRUE(fixture.entriesOfTemporaryDirectory().empty());
        EXPECT_EQ(unmounter->pendingImageCount(), 0u);
        DMGUnmounter::resetShared();
    }
}

} // namespace
} // namespace velmor
