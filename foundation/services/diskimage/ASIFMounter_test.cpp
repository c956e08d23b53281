#include "foundation/services/diskimage/ASIFMounter.hpp"

#include "foundation/core/log/EnvBasedOSLogLogger.hpp"
#include "foundation/core/log/RecordingLogger.hpp"
#include "foundation/services/diskimage/ASIFEjectRetrier.hpp"
#include "foundation/services/diskimage/DMGMounter.hpp"
#include "foundation/services/diskimage/DMGMounterError.hpp"
#include "foundation/services/diskimage/FakeDiskImageTool.hpp"
#include "platform/coding/Decoding.hpp"
#include "platform/coding/PropertyList.hpp"
#include "platform/dispatch/ManualTimerService.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <unistd.h>

namespace velmor {
namespace {

using coding::Array;
using coding::Object;
using coding::Value;
using testing::FakeDiskImageTool;

// A factory that counts its calls; its loggers record.
struct CountingFactory {
    std::shared_ptr<testing::RecordingLogger> logger = std::make_shared<testing::RecordingLogger>();
    std::shared_ptr<std::atomic<int>> calls = std::make_shared<std::atomic<int>>(0);
    LoggerFactory factory() const {
        return [logger = logger, calls = calls](const std::string&) -> std::shared_ptr<Logger> {
            ++*calls;
            return logger;
        };
    }
};

std::string binary(const Value& value) { return coding::toBinaryPropertyList(value); }

Value entities(Array list) { return Object{{"system-entities", std::move(list)}}; }

std::string xml(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">" + body + "</plist>\n";
}

TEST(ASIFMounterAttachTest, PassesItsArgumentsAndThePasswordAndMakesItsOwnMount) {
    FakeDiskImageTool tool;
    const std::string device = tool.device("disk9s1");
    tool.set("out", binary(entities({Object{{"dev-entry", device}, {"mount-point", "/media/x/Data"}}})));
    const URL image = URL::fileURL(tool.path("my image.asif"));
    const std::string tail = "attach --readOnly --nobrowse " + image.path();
    const struct {
        const char* name;
        std::optional<std::string> password;
        std::string arguments;
        std::string input;
    } cases[] = {
        {"no password", std::nullopt, "image --plist " + tail, ""},
        {"empty password", std::string(), "image --plist --stdinpassphrase " + tail, std::string("\0\n", 2)},
        {"password", std::string("s\xC3\xA9same"), "image --plist --stdinpassphrase " + tail,
         std::string("s\xC3\xA9same\0\n", 9)},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.name);
        ::unlink(tool.path("calls").c_str());
        CountingFactory caller;
        const auto mount = ASIFMounter::attach(image, item.password, false, caller.factory());
        EXPECT_EQ(tool.calls(), std::vector<std::string>{item.arguments});
        EXPECT_EQ(tool.input(), item.input);
        EXPECT_EQ(mount->diskImageURL(), image);
        EXPECT_EQ(mount->internalDiskImageURL(), image);
        EXPECT_FALSE(mount->symlinkDiskImageURL());
        EXPECT_FALSE(mount->deinitDetachBlock());
        ASSERT_EQ(mount->partitions().size(), 1u);
        // A device the system does not know has no whole disk.
        EXPECT_EQ(mount->partitions()[0], DMGPartition(URL::fileURL("/media/x/Data"), device, std::nullopt));
        // The mount logs to the system log whatever the caller gave; the caller's factory waits for a
        // detach on release.
        EXPECT_NE(dynamic_cast<EnvBasedOSLogLogger*>(mount->loggerFactory()("DMGMount").get()), nullptr);
        EXPECT_EQ(*caller.calls, 0);
    }
}

// What becomes of the tool's output: the partitions made (devEntry, mount point), or the failure.
TEST(ASIFMounterAttachTest, ReadsTheEntitiesWithAMountPoint) {
    FakeDiskImageTool tool;
    const std::string a = tool.device("a");
    const std::string b = tool.device("b");
    using Partitions = std::vector<std::pair<std::string, std::string>>;
    enum class Failure { none, decoding, noPartitions, unrecognized };
    const struct {
        const char* name;
        std::string output;
        Partitions partitions;
        Failure failure;
    } cases[] = {
        {"two entities, one mount point",
         binary(entities({Object{{"dev-entry", a}}, Object{{"dev-entry", b}, {"mount-point", "/mnt/b"}, {"x", 1}}})),
         {{b, "/mnt/b"}}, Failure::none},
        {"in output order",
         binary(Object{{"other", Array{}}, {"system-entities", Array{Object{{"dev-entry", b}, {"mount-point", "/mnt/b"}},
                                                                       Object{{"dev-entry", a}, {"mount-point", "/mnt/a"}}}}}),
         {{b, "/mnt/b"}, {a, "/mnt/a"}}, Failure::none},
        {"a mount point XML cannot hold, written as its file URL text",
         binary(entities({Object{{"dev-entry", a}, {"mount-point", URL::fileURL("/media/ctl\x01\x1b").absoluteString()}}})),
         {{a, "/media/ctl\x01\x1b"}}, Failure::none},
        {"a mount point given as a number passes the filter and gives none",
         binary(entities({Object{{"dev-entry", a}, {"mount-point", 7}}})), {}, Failure::none},
        {"a missing device entry gives none",
         binary(entities({Object{{"mount-point", "/mnt/a"}}, Object{{"dev-entry", true}, {"mount-point", "/mnt/b"}}})),
         {}, Failure::none},
        {"no entity with a mount point", binary(entities({Object{}, Object{{"dev-entry", a}}})), {},
         Failure::noPartitions},
        {"no entities", binary(entities({})), {}, Failure::noPartitions},
        {"no system-entities", xml("<dict><key>images</key><array/></dict>"), {}, Failure::unrecognized},
        {"an empty dictionary", xml("<dict/>"), {}, Failure::unrecognized},
        {"a member of another shape", binary(Object{{"system-entities", Array{}}, {"status", 0}}), {},
         Failure::decoding},
        {"entities that are no dictionaries", binary(entities({Value("x")})), {}, Failure::decoding},
        {"not a property list", "velmor-diskimage: it failed\n", {}, Failure::decoding},
        {"no output", "", {}, Failure::decoding},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.name);
        tool.set("out", item.output);
        std::shared_ptr<DMGMount> mount;
        try {
            mount = ASIFMounter::attach(URL::fileURL("/i.asif"), std::nullopt, false, CountingFactory().factory());
            EXPECT_EQ(item.failure, Failure::none);
        } catch (const coding::DecodingError&) {
            EXPECT_EQ(item.failure, Failure::decoding);
        } catch (const DMGMounterError& error) {
            if (item.failure == Failure::unrecognized) {
                EXPECT_EQ(error.kind(), DMGMounterError::Case::otherError);
                EXPECT_EQ(error.hdiutilOutput(), "Unrecognized output format: " + item.output);
            } else {
                EXPECT_EQ(item.failure, Failure::noPartitions);
                EXPECT_EQ(error.kind(), DMGMounterError::Case::noPartitionsAvailable);
            }
        }
        if (!mount) {
            continue;
        }
        Partitions made;
        for (const auto& partition : mount->partitions()) {
            made.emplace_back(partition.devEntry().value_or("nil"),
                              partition.mountPoint() ? partition.mountPoint()->path() : "nil");
        }
        EXPECT_EQ(made, item.partitions);
    }
}

TEST(ASIFMounterAttachTest, AToolFailureKeepsTheDecodingErrorAndAddsTheToolsReason) {
    FakeDiskImageTool tool;
    tool.set("out", "");
    tool.set("err", "velmor-diskimage: /i.asif: not a disk image file\n");
    tool.set("status", "1");
    try {
        ASIFMounter::attach(URL::fileURL("/i.asif"), std::nullopt, false, CountingFactory().factory());
        ADD_FAILURE() << "a failed tool gave a mount";
    } catch (const coding::DecodingError& error) {
        EXPECT_EQ(error.kind(), coding::DecodingError::Kind::dataCorrupted);
        EXPECT_NE(error.debugDescription().find("The given data was not a valid property list."), std::string::npos)
            << error.debugDescription();
        EXPECT_NE(error.debugDescription().find("The tool said: velmor-diskimage: /i.asif: not a disk image file; "
                                                "exited with status 1."),
                  std::string::npos)
            << error.debugDescription();
    }
}

TEST(ASIFMounterTimeoutTest, KillsAndReapsATimedOutAttachOrEject) {
    FakeDiskImageTool tool;
    tool.set("hang", "");
    const double previous = DMGMounter::toolTimeout();
    DMGMounter::setToolTimeout(0.3);
    DMGMount mount(CountingFactory().factory());
    mount.setPartitions({DMGPartition(URL::fileURL("/mnt/x"), tool.device("dev"), std::nullopt)});
    const std::function<void()> runs[] = {
        [&] {
            EXPECT_THROW(ASIFMounter::attach(URL::fileURL("/i.asif"), std::nullopt, false, CountingFactory().factory()),
                         TypedError<DMGMount::DMGMountError>);
        },
        [&] {
            try {
                ASIFMounter::detach(mount, false, CountingFactory().factory());
                ADD_FAILURE() << "a timed-out eject passed";
            } catch (const DMGMounterError& error) {
                EXPECT_EQ(error.kind(), DMGMounterError::Case::failedToDetach);
            }
        },
    };
    for (const auto& run : runs) {
        ::unlink(tool.path("pid").c_str());
        run();
        EXPECT_TRUE(tool.hungRunIsGone());
    }
    DMGMounter::setToolTimeout(previous);
}

TEST(ASIFMounterDetachTest, EjectsTheFirstPartitionByItsWholeDiskElseItsMountPoint) {
    FakeDiskImageTool tool;
    const std::string device = tool.path("dev");
    const std::string wholeDiskNode = tool.path("disk");
    const std::string wholeDisk = ".." + wholeDiskNode;
    const std::string kept = tool.device("kept");
    tool.set("remove", device + "\n" + wholeDiskNode + "\n");
    const std::optional<std::string> none;
    enum class Outcome { ejected, failed, noPartitions };
    const struct {
        const char* name;
        std::vector<DMGPartition> partitions;
        const char* status;
        std::vector<std::string> calls;
        Outcome outcome;
    } cases[] = {
        // A whole disk under /dev that is our file: the eject removes it.
        {"whole disk even with a mount point", {DMGPartition(URL::fileURL("/mnt/a"), device, wholeDisk)}, "0",
         {"eject " + wholeDisk}, Outcome::ejected},
        {"mount point without a whole disk",
         {DMGPartition(URL::fileURL("/mnt/a"), device, none), DMGPartition(URL::fileURL("/mnt/b"), device, none)}, "0",
         {"eject /mnt/a"}, Outcome::ejected},
        {"the tool fails", {DMGPartition(URL::fileURL("/mnt/a"), device, none)}, "1", {"eject /mnt/a"},
         Outcome::failed},
        // Status 0 while the device is still there is no eject.
        {"the tool reports success but the device stays", {DMGPartition(URL::fileURL("/mnt/a"), kept, none)}, "0",
         {"eject /mnt/a"}, Outcome::failed},
        // Its whole disk may hold another image by now.
        {"a partition no longer present", {DMGPartition(URL::fileURL("/mnt/a"), tool.path("gone"), std::string("gone0"))},
         "1", {}, Outcome::ejected},
        {"nothing to name it by", {DMGPartition(std::nullopt, device, none)}, "0", {}, Outcome::noPartitions},
        {"no partition", {}, "0", {}, Outcome::noPartitions},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.name);
        ::unlink(tool.path("calls").c_str());
        tool.set("status", item.status);
        tool.set("dev", "");
        tool.set("disk", "");
        DMGMount mount(CountingFactory().factory());
        mount.setPartitions(item.partitions);
        try {
            ASIFMounter::detach(mount, false, CountingFactory().factory());
            EXPECT_EQ(item.outcome, Outcome::ejected);
        } catch (const DMGMounterError& error) {
            EXPECT_EQ(error.kind(), item.outcome == Outcome::failed ? DMGMounterError::Case::failedToDetach
                                                                    : DMGMounterError::Case::noPartitionsAvailable);
            EXPECT_NE(item.outcome, Outcome::ejected);
        }
        EXPECT_EQ(tool.calls(), item.calls);
    }
}

// Retries on a manual clock through the shared retrier, which ejects use.
class ASIFMounterRetryTest : public ::testing::Test {
protected:
    void SetUp() override { ASIFEjectRetrier::resetShared(); }
    void TearDown() override { ASIFEjectRetrier::resetShared(); }

    // Moves the clock on and waits for whatever attempt fell due.
    void advance(double seconds) {
        clock->advance(seconds);
        ASIFEjectRetrier::shared()->detachQueue().sync([] {});
    }

    std::shared_ptr<ManualTimerService> clock = std::make_shared<ManualTimerService>();
    ScopedTimerService scope{clock};
    FakeDiskImageTool tool;
    std::string device = tool.device("dev");
};

TEST_F(ASIFMounterRetryTest, AFailingEjectReturnsAndIsTriedEvery60SecondsUntilThePartitionGoes) {
    tool.set("status", "1");
    DMGMount mount(CountingFactory().factory());
    mount.setPartitions({DMGPartition(URL::fileURL("/mnt/a"), device, std::nullopt)});
    EXPECT_NO_THROW(ASIFMounter::detach(mount, true, CountingFactory().factory()));
    EXPECT_EQ(tool.calls().size(), 1u);
    for (std::size_t attempts = 2; attempts <= 4; ++attempts) {
        ASSERT_TRUE(clock->waitForPending(1));
        advance(59);
        EXPECT_EQ(tool.calls().size(), attempts - 1) << "an attempt before its 60 s";
        advance(1);
        EXPECT_EQ(tool.calls().size(), attempts);
    }
    EXPECT_EQ(tool.calls(), std::vector<std::string>(4, "eject /mnt/a"));
    EXPECT_EQ(ASIFEjectRetrier::shared()->pendingCount(), 1u);

    // The image went: its device may serve another one by now, so it is not ejected again.
    ::unlink(device.c_str());
    advance(60);
    EXPECT_EQ(ASIFEjectRetrier::shared()->pendingCount(), 0u);
    advance(600);
    EXPECT_EQ(tool.calls().size(), 4u);
    EXPECT_EQ(clock->pendingCount(), 0u);
}

TEST_F(ASIFMounterRetryTest, RetriesEndWithASuccessOrAtShutdown) {
    tool.set("status", "1");
    const auto mountOf = [&](const std::string& point) {
        auto mount = std::make_shared<DMGMount>(CountingFactory().factory());
        mount->setPartitions({DMGPartition(URL::fileURL(point), device, std::nullopt)});
        return mount;
    };
    ASIFMounter::detach(*mountOf("/mnt/a"), true, CountingFactory().factory());
    ASIFMounter::detach(*mountOf("/mnt/b"), true, CountingFactory().factory());
    EXPECT_EQ(ASIFEjectRetrier::shared()->pendingCount(), 2u);
    // Succeeds, and the device goes with the first eject.
    tool.set("status", "0");
    tool.set("remove", device + "\n");
    ASSERT_TRUE(clock->waitForPending(2));
    advance(60);
    EXPECT_EQ(ASIFEjectRetrier::shared()->pendingCount(), 0u);
    EXPECT_GE(tool.calls().size(), 3u);

    // A mount released with auto-detach hands a failed eject on; process exit (here a reset) ends it.
    ::unlink(tool.path("remove").c_str());
    tool.device("dev");
    tool.set("status", "1");
    tool.set("out", binary(entities({Object{{"dev-entry", device}, {"mount-point", "/mnt/c"}}})));
    CountingFactory caller;
    auto mount = ASIFMounter::attach(URL::fileURL("/c.asif"), std::nullopt, true, caller.factory());
    const auto retrier = ASIFEjectRetrier::shared();
    mount.reset();
    EXPECT_EQ(tool.calls().back(), "eject /mnt/c");
    EXPECT_EQ(retrier->pendingCount(), 1u);
    EXPECT_TRUE(caller.logger->lines().empty());
    ASIFEjectRetrier::resetShared();
    EXPECT_EQ(retrier->pendingCount(), 0u);
    EXPECT_EQ(clock->pendingCount(), 0u);
    const auto runs = tool.calls().size();
    advance(600);
    retrier->detachQueue().sync([] {});
    EXPECT_EQ(tool.calls().size(), runs);
}

} // namespace
} // namespace velmor
