#include "foundation/services/abtesting/ABTestingEngine.hpp"

#include "foundation/core/log/RecordingLogger.hpp"
#include "foundation/services/abtesting/ABTestingQ4.hpp"
#include "foundation/services/abtesting/TestHTTPSServer.hpp"
#include "platform/concurrency/RunLoop.hpp"
#include "platform/testing/ChildTestRun.hpp"
#include "platform/testing/LockHolder.hpp"
#include "platform/testing/PrivateBus.hpp"
#include "platform/testing/PrivilegeDrop.hpp"
#include "platform/testing/TemporaryDirectory.hpp"
#include "platform/testing/WaitUntil.hpp"
#include "platform/testing/Watchdog.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

namespace velmor {
namespace {

using Kind = ABTestingEngine::UpdateResult::Kind;
using testing::exists;

// One private system bus and one HTTPS server per test process, up before any engine listens.
testing::PrivateBus* bus = nullptr;
testing::TestHTTPSServer* server = nullptr;

class Services : public ::testing::Environment {
public:
    void SetUp() override {
        if (testing::isChildTestRun()) {
            // The other process of a two-process test works with the first one's bus and server.
            return;
        }
        bus = new testing::PrivateBus();
        // Never the machine's own bus: without a private one, nothing is posted anywhere.
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS",
                 bus->address().empty() ? "unix:path=/nonexistent/velmor-test-bus" : bus->address().c_str(),
                 1);
        server = new testing::TestHTTPSServer();
    }
    void TearDown() override {
        delete server;
        delete bus;
    }
};
const auto* const services = ::testing::AddGlobalTestEnvironment(new Services);

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class ABTestingEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testing::isChildTestRun() && !server->failure().empty()) {
            GTEST_SKIP() << "no local HTTPS server: " << server->failure();
        }
    }

    std::unique_ptr<ABTestingEngine> makeEngine(const std::string& product = "T", long timeout = 60) {
        ABTestingEngineLocations locations{server->url(path), URL::fileURL(dir->path()),
                                           URL::fileURL(dir->path())};
        return std::make_unique<ABTestingEngine>(
            locations, product, [this](const std::string&) { return logger; },
            URLSessionConfiguration{server->certificatePEM(), timeout});
    }
    void serve(const std::string& body, int status = 200) { server->answer(path, {status, body}); }
    std::string flag(const std::string& feature, const std::string& product = "T") const {
        return *dir / (".ab_testing_" + product + "_" + feature);
    }
    std::string syncFile(const std::string& product = "T") const {
        return *dir / ("features_" + product + ".json");
    }
    std::map<std::string, std::int64_t> storedRates() const {
        return nlohmann::json::parse(readFile(syncFile()))["rates"]
            .get<std::map<std::string, std::int64_t>>();
    }
    template <typename E> static E errorOf(const std::function<void()>& body) {
        try {
            body();
        } catch (const TypedError<E>& error) {
            return error.value();
        }
        ADD_FAILURE() << "no error thrown";
        return E{};
    }

    // The description of the file error that an update fails with.
    static std::string fileErrorOfUpdate(ABTestingEngine& engine) {
        try {
            engine.updateFeatures();
        } catch (const ErrorException& error) {
            return error.error().description();
        }
        ADD_FAILURE() << "the update did not fail with a file error";
        return {};
    }

    std::string path = "/" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::unique_ptr<testing::TemporaryDirectory> dir = std::make_unique<testing::TemporaryDirectory>();
    std::shared_ptr<testing::RecordingLogger> logger = std::make_shared<testing::RecordingLogger>();
};

TEST_F(ABTestingEngineTest, FirstRunDrawsStoresAndMirrors) {
    auto engine = makeEngine();
    int called = 0;
    engine->setFeaturesDidChange([&] { ++called; });
    serve(R"({"beta": 100})");
    auto result = engine->updateFeatures();
    EXPECT_EQ(result, (ABTestingEngine::UpdateResult{Kind::updated, {{"beta", true}}}));
    EXPECT_EQ(called, 1);
    EXPECT_TRUE(exists(flag("beta")));
    auto rates = storedRates();
    ASSERT_EQ(rates.size(), 1u);
    EXPECT_GE(rates["beta"], 1);
    EXPECT_LE(rates["beta"], 100);
    EXPECT_EQ(engine->activation(), (Activation{{"beta", true}}));
    struct ::stat sync {};
    ASSERT_EQ(::stat(syncFile().c_str(), &sync), 0);
    EXPECT_EQ(sync.st_mode & 07777, 0644u);

    // Unchanged: nothing written, not even the flag someone deleted.
    ASSERT_EQ(::unlink(flag("beta").c_str()), 0);
    EXPECT_EQ(engine->updateFeatures(), (ABTestingEngine::UpdateResult{Kind::unchanged, {{"beta", true}}}));
    struct ::stat again {};
    ASSERT_EQ(::stat(syncFile().c_str(), &again), 0);
    EXPECT_EQ(again.st_ino, sync.st_ino);
    EXPECT_EQ(again.st_mtim.tv_nsec, sync.st_mtim.tv_nsec);
    EXPECT_FALSE(exists(flag("beta")));
    EXPECT_EQ(called, 1);
    auto lines = logger->lines();
    EXPECT_EQ(lines.front(), "info: Reading remote feature set at " + server->url(path));
    EXPECT_EQ(lines.back(), "info: Features unchanged: [\"beta\": true]");
}

TEST_F(ABTestingEngineTest, PercentagesAndLocalFilesDecideAsTheyShould) {
    struct Case {
        std::string name;
        std::optional<std::string> localSync; // nothing: no file
        std::string remote;
        Kind kind;
        Activation activation;
    };
    const std::vector<Case> cases{
        {"bounds",
         std::nullopt,
         R"({"zero": 0, "full": 100, "over": 150, "neg": -5})",
         Kind::updated,
         {{"zero", false}, {"full", true}, {"over", true}, {"neg", false}}},
        {"empty remote, no local", std::nullopt, "{}", Kind::unchanged, {}},
        {"empty remote drops everything",
         R"({"activation": {"a": true}, "rates": {"a": 3}})",
         "{}",
         Kind::updated,
         {}},
        {"zero-byte local", "", R"({"a": 100})", Kind::updated, {{"a", true}}},
        {"other members ignored",
         R"({"activation": {"a": true}, "rates": {"a": 3}, "x": 1})",
         R"({"a": 3})",
         Kind::unchanged,
         {{"a", true}}},
        {"stored draw kept",
         R"({"activation": {"a": true}, "rates": {"a": 40}})",
         R"({"a": 39})",
         Kind::updated,
         {{"a", false}}},
    };
    for (const auto& c : cases) {
        dir = std::make_unique<testing::TemporaryDirectory>();
        if (c.localSync) {
            dir->writeFile("features_T.json", *c.localSync);
        }
        serve(c.remote);
        auto result = makeEngine()->updateFeatures();
        EXPECT_EQ(result.kind, c.kind) << c.name;
        EXPECT_EQ(result.activation, c.activation) << c.name;
        for (const auto& [feature, active] : c.activation) {
            // An unchanged update touches no flag file.
            EXPECT_EQ(exists(flag(feature)), active && c.kind == Kind::updated) << c.name << " " << feature;
        }
        if (c.name == "stored draw kept") {
            EXPECT_EQ(storedRates(), (std::map<std::string, std::int64_t>{{"a", 40}}));
        }
        if (c.name == "empty remote drops everything") {
            EXPECT_EQ(storedRates().size(), 0u);
        }
        if (c.name == "empty remote, no local") {
            EXPECT_FALSE(exists(syncFile()));
        }
    }
}

TEST_F(ABTestingEngineTest, AFeatureKeepsItsDrawUntilItLeaves) {
    auto engine = makeEngine();
    serve(R"({"f": 100, "g": 100})");
    ASSERT_EQ(engine->updateFeatures().kind, Kind::updated);
    const auto draw = storedRates()["f"];

    // Same side of the draw: unchanged; across it: updated, the draw stays.
    serve(R"({"f": )" + std::to_string(draw) + R"(, "g": 100})");
    EXPECT_EQ(engine->updateFeatures().kind, Kind::unchanged);
    serve(R"({"f": )" + std::to_string(draw - 1) + R"(, "g": 100})");
    EXPECT_EQ(engine->updateFeatures(),
              (ABTestingEngine::UpdateResult{Kind::updated, {{"f", false}, {"g", true}}}));
    EXPECT_EQ(storedRates()["f"], draw);
    EXPECT_FALSE(exists(flag("f")));

    // Leaving drops the draw and the flag; coming back draws again.
    serve(R"({"f": 100})");
    ASSERT_EQ(engine->updateFeatures().kind, Kind::updated);
    EXPECT_FALSE(exists(flag("g")));
    EXPECT_FALSE(storedRates().contains("g"));
    serve(R"({"f": 100, "g": 100})");
    EXPECT_EQ(engine->updateFeatures().kind, Kind::updated);
    EXPECT_TRUE(storedRates().contains("g"));
    EXPECT_TRUE(exists(flag("g")));
}

TEST_F(ABTestingEngineTest, FailuresChangeNothing) {
    auto engine = makeEngine("T", 1);
    serve(R"({"a": 100})");
    ASSERT_EQ(engine->updateFeatures().kind, Kind::updated);
    const auto stored = readFile(syncFile());
    using E = ABTestingEngine::Error;
    struct Case {
        testing::TestHTTPSServer::Answer answer;
        E error;
    };
    const std::vector<Case> cases{
        {{500, "{}"}, E::remoteFeatureFileUnavailable}, // an error page is no feature file
        {{404, ""}, E::remoteFeatureFileUnavailable},
        {{200, "[1]"}, E::wrongRemoteFileFormat},
        {{200, R"({"a": "x"})"}, E::wrongRemoteFileFormat},
        {{200, R"({"a": 1.5})"}, E::wrongRemoteFileFormat},
        {{200, ""}, E::wrongRemoteFileFormat},
        {{200, "<html>"}, E::wrongRemoteFileFormat},
        {{200, "", true}, E::remoteFeatureFileUnavailable}, // stalled past the time-out
    };
    for (const auto& c : cases) {
        server->answer(path, c.answer);
        EXPECT_EQ(errorOf<E>([&] { engine->updateFeatures(); }), c.error) << c.answer.status << c.answer.body;
        EXPECT_EQ(readFile(syncFile()), stored);
        EXPECT_TRUE(exists(flag("a")));
    }
    EXPECT_EQ(logger->lines().back(),
              "error: Failed to update features: " +
                  TypedError<E>(E::remoteFeatureFileUnavailable).toError().description());
}

TEST_F(ABTestingEngineTest, ADownloadPastTheCapIsUnavailableAndChangesNothing) {
    auto engine = makeEngine();
    serve(R"({"a": 100})");
    ASSERT_EQ(engine->updateFeatures().kind, Kind::updated);
    const auto stored = readFile(syncFile());
    using E = ABTestingEngine::Error;

    // A valid feature file, only too large: refused by its announced length.
    serve(R"({"a": 0)" + std::string(JSONFeatureSetProvider::maximumFileSize, ' ') + "}");
    EXPECT_EQ(errorOf<E>([&] { engine->updateFeatures(); }), E::remoteFeatureFileUnavailable);
    EXPECT_EQ(readFile(syncFile()), stored);
    EXPECT_TRUE(exists(flag("a")));

    // No length at all: the transfer stops once past the cap, long before the server would.
    const int answered = server->endlessAnswers();
    server->answer(path, {200, "", false, true});
    EXPECT_EQ(errorOf<E>([&] { engine->updateFeatures(); }), E::remoteFeatureFileUnavailable);
    ASSERT_TRUE(testing::waitUntil([&] { return server->endlessAnswers() > answered; }, 60));
    EXPECT_LT(server->endlessSent(), testing::TestHTTPSServer::endlessLimit);
    EXPECT_EQ(readFile(syncFile()), stored);
    EXPECT_TRUE(exists(flag("a")));
}

TEST_F(ABTestingEngineTest, OnlySoManyFeaturesAreTakenFromOneFile) {
    const std::size_t offered = ABTestingEngine::maximumFeatureCount + 500;
    nlohmann::json remote = nlohmann::json::object();
    for (std::size_t i = 0; i < offered; ++i) {
        remote["f" + std::to_string(100000 + i)] = 100;
    }
    serve(remote.dump());
    auto result = makeEngine()->updateFeatures();
    ASSERT_EQ(result.activation.size(), ABTestingEngine::maximumFeatureCount);
    // The first ones by name, the same whichever order the file gives them in.
    EXPECT_TRUE(result.activation.contains("f100000"));
    EXPECT_FALSE(result.activation.contains("f" + std::to_string(100000 + offered - 1)));
    EXPECT_EQ(storedRates().size(), ABTestingEngine::maximumFeatureCount);
    std::size_t flags = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir->path())) {
        flags += entry.path().filename().string().starts_with(".ab_testing_T_") ? 1 : 0;
    }
    EXPECT_EQ(flags, ABTestingEngine::maximumFeatureCount);
    const std::string note = "error: Remote feature set has " + std::to_string(offered) +
                             " features; only the first " +
                             std::to_string(ABTestingEngine::maximumFeatureCount) + " are taken";
    auto lines = logger->lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), note), 1);
}

TEST_F(ABTestingEngineTest, AStoredDrawNoDrawCouldGiveIsDrawnAgain) {
    struct Case {
        std::int64_t stored;
        std::int64_t percentage;
        Kind kind;
        bool active;
    };
    // What the stored draw gave is what a draw of it would give; the fresh draw decides now.
    const std::vector<Case> cases{
        {0, 0, Kind::updated, false},     // 0 would turn on a feature set to 0 %
        {-7, 0, Kind::updated, false},
        {101, 100, Kind::updated, true},  // 101 would keep off a feature set to 100 %
        {0, 100, Kind::unchanged, true},  // the same side, but the new draw is kept
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        dir = std::make_unique<testing::TemporaryDirectory>();
        dir->writeFile("features_T.json",
                       nlohmann::json{{"activation", {{"a", c.percentage >= c.stored}}}, {"rates", {{"a", c.stored}}}}
                           .dump());
        serve(R"({"a": )" + std::to_string(c.percentage) + "}");
        auto engine = makeEngine();
        EXPECT_EQ(engine->updateFeatures(), (ABTestingEngine::UpdateResult{c.kind, {{"a", c.active}}}));
        const auto draw = storedRates()["a"];
        EXPECT_GE(draw, 1);
        EXPECT_LE(draw, 100);
        EXPECT_EQ(engine->updateFeatures().kind, Kind::unchanged);
        EXPECT_EQ(storedRates()["a"], draw);
    }
}

TEST_F(ABTestingEngineTest, AFeatureThatLeftTheFileLosesItsFlagFileAsWhenSwitchedOff) {
    // "gone" has an activation but no draw: it has left the file all the same.
    dir->writeFile("features_T.json", R"({"activation": {"gone": true, "kept": true}, "rates": {"kept": 5}})");
    dir->writeFile(".ab_testing_T_gone", "");
    dir->writeFile(".ab_testing_T_kept", "");
    serve(R"({"kept": 100})");
    auto engine = makeEngine();
    EXPECT_EQ(engine->updateFeatures(), (ABTestingEngine::UpdateResult{Kind::updated, {{"kept", true}}}));
    EXPECT_FALSE(exists(flag("gone")));
    EXPECT_TRUE(exists(flag("kept")));
    EXPECT_EQ(engine->activation(), (Activation{{"kept", true}}));
}

TEST_F(ABTestingEngineTest, ALocalSyncWithoutRatesIsWrong) {
    dir->writeFile("features_T.json", R"({"activation": {}})");
    serve(R"({"a": 100})");
    auto engine = makeEngine();
    EXPECT_EQ(errorOf<ABTestingEngine::Error>([&] { engine->updateFeatures(); }),
              ABTestingEngine::Error::wrongLocalFileFormat);
    EXPECT_FALSE(exists(flag("a")));
    EXPECT_TRUE(engine->activation().empty());
    EXPECT_EQ(logger->lines().back().rfind("error: Failed to list enabled feature flags: ", 0), 0u);
}

TEST_F(ABTestingEngineTest, ALocalSyncThatCannotBeReadKeepsTheDrawsAndFails) {
    testing::Watchdog watchdog("reading hostile local syncs", 60);
    const std::string good = R"({"activation": {"a": true}, "rates": {"a": 1}})";
    dir->writeFile("elsewhere.json", good);
    struct Case {
        const char* what;
        std::function<void()> plant;
    };
    const Case cases[] = {
        {"a FIFO", [&] { ASSERT_EQ(::mkfifo(syncFile().c_str(), 0644), 0); }},
        {"a link", [&] { ASSERT_EQ(::symlink((*dir / "elsewhere.json").c_str(), syncFile().c_str()), 0); }},
        {"a folder", [&] { std::filesystem::create_directory(syncFile()); }},
        {"over the size limit", [&] { dir->writeFile("features_T.json", good + std::string(4 << 20, ' ')); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(syncFile());
        std::filesystem::remove(flag("b"));
        c.plant();
        const auto planted = std::filesystem::symlink_status(syncFile()).type();
        const auto plantedSize =
            planted == std::filesystem::file_type::regular ? std::filesystem::file_size(syncFile()) : 0;
        dir->writeFile(".ab_testing_T_a");
        serve(R"({"a": 0, "b": 100})");
        auto engine = makeEngine();
        EXPECT_TRUE(engine->activation().empty());
        const std::size_t linesBefore = logger->lines().size();
        const std::string description = fileErrorOfUpdate(*engine);
        EXPECT_NE(description.find(syncFile()), std::string::npos) << description;
        // Nothing was drawn again: no flag came or went and the entry is as planted.
        EXPECT_TRUE(exists(flag("a")));
        EXPECT_FALSE(exists(flag("b")));
        EXPECT_EQ(std::filesystem::symlink_status(syncFile()).type(), planted);
        if (planted == std::filesystem::file_type::regular) {
            EXPECT_EQ(std::filesystem::file_size(syncFile()), plantedSize);
        }
        const auto lines = logger->lines();
        EXPECT_EQ(std::count_if(lines.begin() + static_cast<std::ptrdiff_t>(linesBefore), lines.end(),
                                [](const std::string& line) { return line.rfind("error: ", 0) == 0; }),
                  1);
    }
    // Only a missing file means that nothing was drawn yet.
    std::filesystem::remove_all(syncFile());
    serve(R"({"a": 100})");
    EXPECT_EQ(makeEngine()->updateFeatures().kind, Kind::updated);
}

TEST_F(ABTestingEngineTest, DrawsTooManyForTheSyncFileAreNotWritten) {
    auto engine = makeEngine();
    serve(R"({"a": 100})");
    ASSERT_EQ(engine->updateFeatures().kind, Kind::updated);
    const auto stored = readFile(syncFile());
    // Each name stands twice in the sync file: a feature file within its own limit makes one past it.
    nlohmann::json features = nlohmann::json::object();
    for (int index = 0; index < 1000; ++index) {
        features[std::to_string(index) + std::string(2100, 'f')] = 0;
    }
    serve(features.dump());
    const std::string description = fileErrorOfUpdate(*engine);
    EXPECT_NE(description.find(syncFile()), std::string::npos) << description;
    EXPECT_NE(description.find(std::to_string(4 << 20)), std::string::npos) << description;
    EXPECT_EQ(readFile(syncFile()), stored);
    EXPECT_EQ(engine->activation(), (Activation{{"a", true}}));
    // The flags still agree with the stored draws.
    EXPECT_TRUE(exists(flag("a")));
}

TEST_F(ABTestingEngineTest, FlagFilesNeverFollowLinksNorLeaveTheFolder) {
    const auto victim = dir->writeFile("victim", "secret");
    ASSERT_EQ(::symlink(victim.c_str(), flag("beta").c_str()), 0);
    // "a/b" would land inside this folder if names were taken as paths.
    dir->makeDirectory(".ab_testing_T_a");
    const std::string longName(300, 'x');
    serve(R"({"beta": 100, "a/b": 100, ")" + longName + R"(": 100, "ok": 100})");
    auto result = makeEngine()->updateFeatures();
    EXPECT_EQ(result.activation, (Activation{{"beta", true}, {"a/b", true}, {longName, true}, {"ok", true}}));
    EXPECT_EQ(readFile(victim), "secret");
    struct ::stat link {};
    ASSERT_EQ(::lstat(flag("beta").c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));
    EXPECT_FALSE(exists(*dir / ".ab_testing_T_a/b"));
    EXPECT_TRUE(exists(flag("ok")));
    EXPECT_TRUE(storedRates().contains("a/b"));
    auto lines = logger->lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "error: Feature name unfit for a flag file: a/b"),
              lines.end());

    // Going off leaves the planted link alone too.
    serve(R"({"beta": 0})");
    makeEngine()->updateFeatures();
    EXPECT_EQ(::lstat(flag("beta").c_str(), &link), 0);
    EXPECT_EQ(readFile(victim), "secret");
}

TEST_F(ABTestingEngineTest, TheFacadeReportsResultsAndErrors) {
    ABTestingQ4 facade(makeEngine());
    serve(R"({"beta": 100, "off": 0})");
    auto first = facade.update();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->updatedFeatures(), (Activation{{"beta", true}, {"off", false}}));
    auto second = facade.update();
    ASSERT_TRUE(second);
    EXPECT_FALSE(second->updatedFeatures());
    EXPECT_EQ(facade.activation(), (Activation{{"beta", true}, {"off", false}}));

    serve("[]");
    velmor::Error error;
    EXPECT_FALSE(facade.update(&error));
    EXPECT_EQ(error.domain(), "VelmorFoundation.ABTestingEngine.Error");
    EXPECT_EQ(error.code(), 1);
    EXPECT_FALSE(facade.update());

    // The sync file cannot be written: its own error, with the path.
    testing::TemporaryDirectory other;
    ABTestingEngineLocations locations{server->url(path), URL::fileURL(other / "missing"),
                                       URL::fileURL(other.path())};
    ABTestingQ4 broken(std::make_shared<ABTestingEngine>(
        locations, "T", [this](const std::string&) { return logger; },
        URLSessionConfiguration{server->certificatePEM(), 60}));
    serve(R"({"beta": 100})");
    EXPECT_FALSE(broken.update(&error));
    EXPECT_EQ(error.domain(), velmor::Error::cocoaDomain);
    EXPECT_EQ(error.code(), 4);
    ASSERT_NE(error.underlyingError(), nullptr);
    EXPECT_EQ(error.underlyingError()->code(), ENOENT);
    ASSERT_NE(error.stringValue(velmor::Error::filePathKey), nullptr);
    EXPECT_EQ(*error.stringValue(velmor::Error::filePathKey), other / "missing/features_T.json");
}

TEST_F(ABTestingEngineTest, ReadersNeverSeeAMissingOrPartialSyncFile) {
    auto engine = makeEngine();
    serve(R"({"x": 100})");
    ASSERT_EQ(engine->updateFeatures().kind, Kind::updated);
    std::atomic<bool> done{false};
    std::atomic<int> bad{0};
    std::thread reader([&] {
        while (!done) {
            auto text = readFile(syncFile());
            if (!nlohmann::json::accept(text)) {
                ++bad;
            }
        }
    });
    for (int round = 0; round < 40; ++round) {
        serve(round % 2 == 0 ? R"({"x": 0})" : R"({"x": 100})");
        engine->updateFeatures();
    }
    done = true;
    reader.join();
    EXPECT_EQ(bad, 0);
}

TEST_F(ABTestingEngineTest, TheChangeClosureMayBeReplacedWhileUpdatesRun) {
    auto engine = makeEngine();
    std::atomic<int> called{0};
    std::atomic<bool> done{false};
    std::thread setter([&] {
        while (!done) {
            engine->setFeaturesDidChange([&] { ++called; });
            engine->featuresDidChange();
        }
    });
    for (int round = 0; round < 20; ++round) {
        serve(round % 2 == 0 ? R"({"x": 100})" : R"({"x": 0})");
        engine->updateFeatures();
    }
    done = true;
    setter.join();
    engine->setFeaturesDidChange(nullptr);
    engine->featuresDidChange()(); // an empty closure becomes the no-op
    EXPECT_LE(called, 20);
}

// An updater stopped while it held the updaters' lock: an update gives up within seconds with the
// sync file's error, and neither the draws nor the flag files change.
TEST_F(ABTestingEngineTest, AnUpdateHeldOffByAnotherUpdaterFailsWithinSecondsAndChangesNothing) {
    auto engine = makeEngine();
    serve(R"({"a": 100})");
    ASSERT_EQ(engine->updateFeatures().kind, Kind::updated);
    const auto stored = readFile(syncFile());
    serve(R"({"a": 100, "b": 100})");
    testing::LockHolder holder(dir->path());
    ASSERT_GE(holder.locksHeld().value_or(0), 2);

    std::string failure;
    EXPECT_TRUE(testing::returnsWhileHeld(holder, [&] { failure = fileErrorOfUpdate(*engine); }))
        << "the update kept waiting for the lock";
    holder.release();
    EXPECT_NE(failure.find(syncFile()), std::string::npos) << failure;
    EXPECT_EQ(logger->lines().back(), "error: Failed to update features: " + failure);
    EXPECT_EQ(readFile(syncFile()), stored);
    EXPECT_FALSE(exists(flag("b")));
    EXPECT_EQ(engine->updateFeatures().kind, Kind::updated);
    EXPECT_TRUE(exists(flag("b")));
}

// Any user may open the folder and the sync file, and flock needs nothing more: none of that may
// hold off root's updates.
TEST_F(ABTestingEngineTest, AnotherUsersLocksDoNotHoldOffAnUpdate) {
    if (::getuid() != 0) {
        GTEST_SKIP() << "needs root: the locks are taken as user 65534";
    }
    ::chmod(dir->path().c_str(), 0755);
    auto engine = makeEngine();
    serve(R"({"a": 100})");
    ASSERT_EQ(engine->updateFeatures().kind, Kind::updated);
    serve(R"({"a": 100, "b": 100})");
    testing::LockHolder holder(dir->path(), testing::unprivilegedUser);
    ASSERT_GE(holder.locksHeld().value_or(0), 2) << "the other user holds the folder and the sync file";

    std::optional<Kind> kind;
    EXPECT_TRUE(testing::returnsWhileHeld(holder, [&] { kind = engine->updateFeatures().kind; }))
        << "the update waited on another user's lock";
    EXPECT_EQ(kind, Kind::updated);
    EXPECT_TRUE(exists(flag("b")));
}

// The other process of a two-process test: a fresh run of the same test, told through its
// environment which server and folder to use and where to write its answer. A fresh process, not a
// fork: a fork of this process copies locks that the server's and the engine's threads hold.
constexpr const char* otherFolderVariable = "VELMOR_TEST_OTHER_FOLDER";
constexpr const char* otherAnswerVariable = "VELMOR_TEST_OTHER_ANSWER";
constexpr const char* serverURLVariable = "VELMOR_TEST_SERVER_URL";
constexpr const char* serverCertificateVariable = "VELMOR_TEST_SERVER_CERTIFICATE";

std::string variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

class OtherProcess {
public:
    OtherProcess(const std::string& folder, const std::string& url)
        : answerPath_(answers_ / "answer"),
          pid_(testing::startCurrentTestInChild(
              {std::string(otherFolderVariable) + "=" + folder,
               std::string(otherAnswerVariable) + "=" + answerPath_,
               std::string(serverURLVariable) + "=" + url,
               std::string(serverCertificateVariable) + "=" + server->certificatePEM()})) {}

    // Once the other process is about to update, so that both updates run at about the same time.
    bool waitUntilReady() const {
        return testing::waitUntil([&] { return exists(answerPath_ + ".ready") || exists(answerPath_); }, 60);
    }

    // What the other process answered, once it has ended.
    std::string answer() {
        int exitCode = testing::waitForChildTest(pid_);
        std::string text = readFile(answerPath_);
        return exitCode == 0 ? text : "ended with " + std::to_string(exitCode) + ": " + text;
    }

    // In the other process.
    static ABTestingEngineLocations locations() {
        URL folder = URL::fileURL(variable(otherFolderVariable));
        return {variable(serverURLVariable), folder, folder};
    }
    static URLSessionConfiguration session() { return {variable(serverCertificateVariable), 60}; }
    static void ready() { std::ofstream(variable(otherAnswerVariable) + ".ready").put('\n'); }
    static void answer(const std::string& text) {
        std::string path = variable(otherAnswerVariable);
        std::ofstream(path + ".part", std::ios::binary) << text;
        std::rename((path + ".part").c_str(), path.c_str());
    }

private:
    testing::TemporaryDirectory answers_;
    std::string answerPath_;
    pid_t pid_;
};

TEST_F(ABTestingEngineTest, UpdatersInTwoProcessesKeepOneDrawPerFeature) {
    if (testing::isChildTestRun()) {
        ABTestingEngine engine(
            OtherProcess::locations(), "T",
            [](const std::string&) { return std::make_shared<testing::RecordingLogger>(); },
            OtherProcess::session());
        OtherProcess::ready();
        OtherProcess::answer(describe(engine.updateFeatures().activation));
        return;
    }
    nlohmann::json remote = nlohmann::json::object();
    for (int i = 0; i < 64; ++i) {
        remote["f" + std::to_string(i)] = 50;
    }
    serve(remote.dump());
    for (int round = 0; round < 20; ++round) {
        dir = std::make_unique<testing::TemporaryDirectory>();
        auto engine = makeEngine();
        OtherProcess other(dir->path(), server->url(path));
        ASSERT_TRUE(other.waitUntilReady()) << "round " << round;
        auto mine = describe(engine->updateFeatures().activation);
        auto theirs = other.answer();
        auto stored = describe(engine->activation());
        EXPECT_EQ(mine, stored) << "round " << round;
        EXPECT_EQ(theirs, stored) << "round " << round;
    }
}

TEST_F(ABTestingEngineTest, AChangeElsewhereReachesThisProductsEngineOnTheMainThread) {
    if (testing::isChildTestRun()) {
        for (const char* product : {"N3", "N1"}) {
            ABTestingEngine engine(
                OtherProcess::locations(), product,
                [](const std::string&) { return std::make_shared<testing::RecordingLogger>(); },
                OtherProcess::session());
            engine.updateFeatures();
        }
        OtherProcess::answer("done");
        return;
    }
    if (bus->address().empty()) {
        GTEST_SKIP() << "no private system bus: " << bus->failure();
    }
    ScopedMainRunLoop runLoop;
    auto mine = makeEngine("N1");
    auto other = makeEngine("N2");
    std::atomic<int> mineCalled{0}, otherCalled{0};
    mine->setFeaturesDidChange([&] {
        EXPECT_TRUE(MainActor::isMainThread());
        ++mineCalled;
    });
    other->setFeaturesDidChange([&] { ++otherCalled; });
    serve(R"({"beta": 100})");
    testing::TemporaryDirectory childFolder;
    OtherProcess child(childFolder.path(), server->url(path));
    ASSERT_EQ(child.answer(), "done");
    EXPECT_TRUE(runLoop.runUntil([&] { return mineCalled > 0; }));
    runLoop.loop().drain();
    EXPECT_EQ(mineCalled, 1);
    EXPECT_EQ(otherCalled, 0);
}

TEST(ABTestingDraw, StaysWithinOneToAHundred) {
    std::set<std::int64_t> seen;
    for (int i = 0; i < 5000; ++i) {
        auto draw = ABTestingEngine::draw();
        ASSERT_GE(draw, 1);
        ASSERT_LE(draw, 100);
        seen.insert(draw);
    }
    // 5000 fair draws miss one of the hundred values with a chance below 1e-19.
    EXPECT_EQ(seen.size(), 100u);
}

TEST(ABTestingEngineLocations, Q4KeepsItsStateWithRoot) {
    const auto& q4 = ABTestingEngineLocations::q4();
    EXPECT_EQ(q4.remoteURL, "https://download.velmor.com/mac/Q/features-q4.json");
    EXPECT_EQ(q4.localURL, URL::fileURL("/var/lib/Velmor"));
    EXPECT_EQ(q4.flagFilesDirectoryURL, URL::fileURL("/var/lib/Velmor"));
}

} // namespace
} // namespace velmor
