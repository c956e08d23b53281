#include "foundation/services/preferences/InterprocessPreferences.hpp"

#include "foundation/core/log/RecordingLogger.hpp"
#include "platform/coding/PropertyList.hpp"
#include "platform/dispatch/ManualTimerService.hpp"
#include "platform/fs/AtomicFile.hpp"
#include "platform/testing/ChildProcess.hpp"
#include "platform/testing/ChildTestRun.hpp"
#include "platform/testing/FileEventBarrier.hpp"
#include "platform/testing/HostileFiles.hpp"
#include "platform/testing/LockHolder.hpp"
#include "platform/testing/PrivilegeDrop.hpp"
#include "platform/testing/TemporaryDirectory.hpp"
#include "platform/testing/WaitUntil.hpp"
#include "platform/testing/Watchdog.hpp"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unordered_set>

namespace velmor {
namespace {

using Prefs = InterprocessPreferences;
using coding::Data;
using coding::Object;
using coding::Value;
using testing::waitUntil;

const Prefs::PrefName<bool> enabled{"enabled"};
const Prefs::PrefName<std::string> label{"label"};
const Prefs::PrefNameWithDefault<bool> enabledOrTrue{"enabled", true};

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// A table file entry in the one-key form: {"<case>": {"_0": payload}}.
Value entry(const char* caseName, Value payload) {
    return Object{{caseName, Object{{"_0", std::move(payload)}}}};
}

mode_t modeOf(const std::string& path) {
    struct ::stat record {};
    ::stat(path.c_str(), &record);
    return record.st_mode & 07777;
}

class InterprocessPreferencesTest : public ::testing::Test {
protected:
    LoggerFactory loggers() {
        return [this](const std::string& category) {
            categories.push_back(category);
            return logger;
        };
    }

    std::unique_ptr<Prefs> table(const std::string& name = "shared") {
        auto result = std::make_unique<Prefs>(Prefs::TableName{name}, loggers(), URL::fileURL(folder));
        result->setRunnningForTests(true);
        return result;
    }

    std::unique_ptr<Prefs> fileTable(const std::string& path) {
        auto result = std::make_unique<Prefs>(URL::fileURL(path), loggers());
        result->setRunnningForTests(true);
        return result;
    }

    void writeTable(const std::string& path, const Value& contents) {
        replaceFileAtomically(std::filesystem::path(path).parent_path(), std::filesystem::path(path).filename(),
                              coding::toBinaryPropertyList(contents));
    }

    std::vector<std::string> errors() const {
        std::vector<std::string> result;
        for (auto& line : logger->lines()) {
            if (line.starts_with("error: ")) {
                result.push_back(line.substr(7));
            }
        }
        return result;
    }

    std::shared_ptr<ManualTimerService> timers = std::make_shared<ManualTimerService>();
    ScopedTimerService scopedTimers{timers};
    testing::TemporaryDirectory root;
    std::string folder = root / "machine/Preferences";
    std::shared_ptr<testing::RecordingLogger> logger = std::make_shared<testing::RecordingLogger>();
    std::vector<std::string> categories;
    testing::FileEventBarrier barrier;
    testing::Watchdog watchdog{"preference table test"};
};

TEST_F(InterprocessPreferencesTest, AMissingTableStartsEmptyAndItsFirstSetCreatesFolderAndFile) {
    auto prefs = table();
    EXPECT_EQ(categories, std::vector<std::string>{"sharedPref-shared"});
    EXPECT_EQ(prefs->storagePath(), URL::fileURL(folder + "/shared.plist"));
    EXPECT_EQ(prefs->get(enabled), std::nullopt);
    ASSERT_EQ(errors().size(), 1u);
    EXPECT_TRUE(errors()[0].starts_with("Failed to read preferences from disk: ")) << errors()[0];

    prefs->set(enabled, true);
    prefs->set(label, std::string("blue"));
    EXPECT_EQ(prefs->get(enabled), true);
    std::string bytes = readAll(folder + "/shared.plist");
    EXPECT_TRUE(bytes.starts_with("bplist"));
    EXPECT_EQ(coding::fromPropertyList(bytes),
              Value(Object{{"enabled", entry("bool", true)}, {"label", entry("string", "blue")}}));
    EXPECT_EQ(modeOf(folder + "/shared.plist"), 0644u);
    EXPECT_EQ(modeOf(folder), 0755u);
    EXPECT_EQ(errors().size(), 1u);
}

TEST_F(InterprocessPreferencesTest, ReadsGiveTheStoredKindOrNothing) {
    std::filesystem::create_directories(folder);
    writeTable(folder + "/shared.plist",
               Object{{"enabled", entry("string", "yes")}, {"blob", entry("data", Data{{1, 2, 3}})}});
    auto prefs = table();
    EXPECT_EQ(prefs->get(enabled), std::nullopt) << "a string is no Bool";
    EXPECT_EQ(prefs->get(enabledOrTrue), true) << "so the default stands";
    EXPECT_EQ(prefs->get(Prefs::PrefNameWithDefault<bool>{"enabled", false}), false);
    EXPECT_EQ(prefs->get(Prefs::PrefName<std::string>{"enabled"}), "yes");
    EXPECT_EQ(prefs->get(Prefs::PrefName<Data>{"blob"}), (Data{{1, 2, 3}}));

    // Storing the default still stores it; modifying goes through the getter and the setter.
    prefs->set(enabledOrTrue, true);
    EXPECT_EQ(prefs->get(enabled), true);
    prefs->modify(enabledOrTrue, [](bool& value) { value = !value; });
    EXPECT_EQ(prefs->get(enabled), false);
    prefs->modify(label, [](std::optional<std::string>& value) { value = value.value_or("") + "x"; });
    EXPECT_EQ(prefs->get(label), "x");
}

TEST_F(InterprocessPreferencesTest, ASetChangesItsOneEntryInWhatTheFileHoldsAndTakesTheResult) {
    std::string path = root / "table.plist";
    auto prefs = fileTable(path);
    prefs->set(enabled, true);
    // Another writer's table, which this one has not read: a set changes its one entry in it.
    writeTable(path, Object{{"foreign", entry("bool", false)}});
    prefs->set(label, std::string("mine"));
    EXPECT_EQ(coding::fromPropertyList(readAll(path)),
              Value(Object{{"foreign", entry("bool", false)}, {"label", entry("string", "mine")}}));
    EXPECT_EQ(prefs->get(Prefs::PrefName<bool>{"foreign"}), false);
    EXPECT_EQ(prefs->get(enabled), std::nullopt) << "the other writer removed it";
    // Setting nothing removes the key and still rewrites the file.
    prefs->set(label, std::nullopt);
    prefs->set(enabled, std::nullopt);
    EXPECT_EQ(prefs->get(label), std::nullopt);
    EXPECT_EQ(coding::fromPropertyList(readAll(path)), Value(Object{{"foreign", entry("bool", false)}}));
}

TEST_F(InterprocessPreferencesTest, ASetTheFileCannotHoldIsRefusedAndChangesNothing) {
    const std::string path = root / "table.plist";
    auto prefs = fileTable(path);
    prefs->set(label, std::string("blue"));
    const std::string before = readAll(path);
    struct Case {
        const char* what;
        std::function<void()> set;
        std::string key;
        std::vector<std::string> told;
    };
    const Case cases[] = {
        {"a string that is not UTF-8", [&] { prefs->set(label, std::string("caf\xe9")); }, "label", {"UTF-8"}},
        {"a key that is not UTF-8", [&] { prefs->set(Prefs::PrefName<bool>{"caf\xe9"}, true); }, "caf\xe9",
         {"UTF-8"}},
        {"a value past the reader's limit",
         [&] { prefs->set(Prefs::PrefName<Data>{"blob"}, Data{std::vector<std::uint8_t>(5 << 20, 'x')}); }, "blob",
         {std::to_string(4 << 20)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::size_t errorsBefore = errors().size();
        c.set();
        EXPECT_TRUE(readAll(path) == before);
        EXPECT_EQ(prefs->get(label), "blue");
        EXPECT_EQ(prefs->get(Prefs::PrefName<Data>{c.key}), std::nullopt);
        EXPECT_EQ(prefs->get(Prefs::PrefName<bool>{c.key}), std::nullopt);
        ASSERT_EQ(errors().size(), errorsBefore + 1);
        const std::string said = errors().back();
        for (const std::string& part : c.told) {
            EXPECT_NE(said.find(part), std::string::npos) << said.substr(0, 300);
        }
        EXPECT_NE(said.find("\"" + c.key + "\""), std::string::npos) << said.substr(0, 300);
        EXPECT_NE(said.find(path), std::string::npos) << said.substr(0, 300);
    }
}

TEST_F(InterprocessPreferencesTest, AWriteErrorNamesTheFile) {
    // A folder where the table should be: the write cannot replace it.
    const std::string path = root / "table.plist";
    std::filesystem::create_directories(path + "/inside");
    auto prefs = fileTable(path);
    prefs->set(enabled, true);
    ASSERT_FALSE(errors().empty());
    EXPECT_TRUE(errors().back().starts_with("Failed to write preferences to disk: ")) << errors().back();
    EXPECT_NE(errors().back().find(path), std::string::npos) << errors().back();
}

// A writer of the table stopped while it held the table's lock: a set gives up within seconds,
// says so naming the table, and the file keeps what it held. Reads never wait for the lock.
TEST_F(InterprocessPreferencesTest, ASetHeldOffByAnotherWriterFailsWithinSecondsAndChangesNoFile) {
    auto prefs = table();
    prefs->set(label, std::string("before"));
    const std::string path = folder + "/shared.plist";
    const std::string before = readAll(path);
    const std::size_t errorsBefore = errors().size();
    testing::LockHolder holder(folder);
    ASSERT_GE(holder.locksHeld().value_or(0), 2);

    EXPECT_TRUE(testing::returnsWhileHeld(holder, [&] { prefs->set(label, std::string("during")); }))
        << "the set kept waiting for the lock";
    EXPECT_EQ(prefs->get(label), "during") << "the change holds in this process";
    holder.release();

    EXPECT_TRUE(readAll(path) == before);
    ASSERT_EQ(errors().size(), errorsBefore + 1);
    EXPECT_TRUE(errors().back().starts_with("Failed to write preferences to disk: ")) << errors().back();
    EXPECT_NE(errors().back().find(path), std::string::npos) << errors().back();
    prefs->set(enabled, true);
    EXPECT_EQ(coding::fromPropertyList(readAll(path)),
              Value(Object{{"enabled", entry("bool", true)}, {"label", entry("string", "before")}}));
}

// Text that is not UTF-8 comes only from a file that no table wrote: a table that took it in
// could not be written again.
TEST_F(InterprocessPreferencesTest, ATableHoldingTextThatIsNotUTF8IsRefusedAndWrittenAgain) {
    const std::string path = root / "table.plist";
    for (const bool inKey : {false, true}) {
        SCOPED_TRACE(inKey ? "in a key" : "in a string");
        testing::BinaryPropertyListWriter writer;
        const std::size_t key = writer.string(inKey ? "caf\xe9" : "name");
        const std::size_t text = writer.string(inKey ? "text" : "caf\xe9");
        const std::size_t payload = writer.dictionary({{writer.string("_0"), text}});
        const std::size_t value = writer.dictionary({{writer.string("string"), payload}});
        const std::size_t top = writer.dictionary({{key, value}});
        replaceFileAtomically(root.path(), "table.plist", writer.bytes(top));
        const std::size_t errorsBefore = errors().size();
        auto prefs = fileTable(path);
        ASSERT_EQ(errors().size(), errorsBefore + 1);
        EXPECT_TRUE(errors().back().starts_with("Failed to read preferences from disk: ")) << errors().back();
        EXPECT_NE(errors().back().find(path), std::string::npos) << errors().back();
        EXPECT_NE(errors().back().find("UTF-8"), std::string::npos) << errors().back();
        EXPECT_EQ(prefs->get(Prefs::PrefName<std::string>{"name"}), std::nullopt);

        prefs->set(label, std::string("blue"));
        for (const std::string& error : errors()) {
            EXPECT_FALSE(error.starts_with("Failed to write")) << error;
        }
        EXPECT_EQ(coding::fromPropertyList(readAll(path)), Value(Object{{"label", entry("string", "blue")}}));
    }
}

TEST_F(InterprocessPreferencesTest, AFileThatIsNotAValidTableIsRejectedWhole) {
    struct Case {
        const char* what;
        Value contents;
        const char* message;
    };
    const Case cases[] = {
        {"no case key", Object{{"good", entry("bool", true)}, {"bad", Object{{"int", Object{{"_0", 1}}}}}},
         "Invalid number of keys found, expected one."},
        {"two case keys",
         Object{{"good", entry("bool", true)},
                {"bad", Object{{"bool", Object{{"_0", true}}}, {"string", Object{{"_0", "x"}}}}}},
         "Invalid number of keys found, expected one."},
        {"no payload", Object{{"good", entry("bool", true)}, {"bad", Object{{"bool", Object{}}}}}, "_0"},
        {"a payload of the wrong kind", Object{{"good", entry("bool", true)}, {"bad", entry("data", "text")}},
         "Expected to decode data"},
        {"a root that is no dictionary", Value(coding::Array{true}), "Failed to read preferences from disk"},
    };
    std::filesystem::create_directories(folder);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string path = folder + "/shared.plist";
        writeTable(path, Object{{"kept", entry("string", "before")}});
        auto prefs = table();
        std::atomic<int> reloads{0};
        prefs->observe([&] { ++reloads; });
        writeTable(path, c.contents);
        ASSERT_TRUE(barrier.wait());
        timers->advance(1);
        ASSERT_TRUE(waitUntil([&] { return reloads.load() == 1; }));
        EXPECT_EQ(prefs->get(Prefs::PrefName<std::string>{"kept"}), "before");
        EXPECT_EQ(prefs->get(Prefs::PrefName<bool>{"good"}), std::nullopt);
        ASSERT_FALSE(errors().empty());
        EXPECT_TRUE(errors().back().starts_with("Failed to read preferences from disk: ")) << errors().back();
        EXPECT_NE(errors().back().find(c.message), std::string::npos) << errors().back();
    }
}

TEST_F(InterprocessPreferencesTest, ATableReloadsOnChangesAndKeepsItsValuesWhenTheFileGoes) {
    // With the file in place its own path is watched from the start; a watch that still has to
    // move down to it may miss a change made while it moves.
    std::filesystem::create_directories(folder);
    writeTable(folder + "/shared.plist", Object{});
    auto prefs = table();
    std::atomic<int> reloads{0};
    prefs->observe([&] { ++reloads; });
    prefs->set(enabled, true);
    // Its own write is a change like any other.
    ASSERT_TRUE(barrier.wait());
    timers->advance(1);
    ASSERT_TRUE(waitUntil([&] { return reloads.load() == 1; }));

    writeTable(folder + "/shared.plist", Object{{"label", entry("string", "from elsewhere")}});
    ASSERT_TRUE(barrier.wait());
    timers->advance(1);
    ASSERT_TRUE(waitUntil([&] { return reloads.load() == 2; }));
    EXPECT_EQ(prefs->get(label), "from elsewhere");
    EXPECT_EQ(prefs->get(enabled), std::nullopt) << "keys missing from the file disappear";

    std::size_t errorsBefore = errors().size();
    std::filesystem::remove(folder + "/shared.plist");
    ASSERT_TRUE(barrier.wait());
    timers->advance(1);
    ASSERT_TRUE(waitUntil([&] { return reloads.load() == 3; }));
    EXPECT_EQ(prefs->get(label), "from elsewhere");
    EXPECT_EQ(errors().size(), errorsBefore + 1);

    prefs->stopObserving();
    writeTable(folder + "/shared.plist", Object{});
    ASSERT_TRUE(barrier.wait());
    timers->advance(1);
    ASSERT_TRUE(waitUntil([&] { return !prefs->get(label).has_value(); }));
    EXPECT_EQ(reloads.load(), 3);
}

TEST_F(InterprocessPreferencesTest, AHostileFileIsRefusedAtLoadAndReloadAndTheValuesBeforeStay) {
    std::filesystem::create_directories(folder);
    const std::string path = folder + "/shared.plist";
    // What the file over the size limit would give if it were read.
    const std::string overwriting =
        "<key>label</key><dict><key>string</key><dict><key>_0</key><string>after</string></dict></dict>";
    for (const auto& hostile : testing::hostileFiles(4 << 20, overwriting)) {
        SCOPED_TRACE(hostile.what);
        hostile.plant(path);
        std::size_t errorsBefore = errors().size();
        EXPECT_EQ(fileTable(path)->get(label), std::nullopt);
        ASSERT_EQ(errors().size(), errorsBefore + 1);
        EXPECT_TRUE(errors().back().starts_with("Failed to read preferences from disk: ")) << errors().back();

        std::filesystem::remove_all(path);
        writeTable(path, Object{{"label", entry("string", "before")}});
        auto prefs = table();
        ASSERT_EQ(prefs->get(label), "before");
        std::atomic<int> reloads{0};
        prefs->observe([&] { ++reloads; });
        errorsBefore = errors().size();
        hostile.plant(path);
        ASSERT_TRUE(barrier.wait());
        timers->advance(1);
        ASSERT_TRUE(waitUntil([&] { return reloads.load() >= 1; }));
        EXPECT_EQ(prefs->get(label), "before");
        ASSERT_GT(errors().size(), errorsBefore);
        if (hostile.what == "a FIFO" || hostile.what == "a folder" ||
            hostile.what.find("size") != std::string::npos) {
            EXPECT_NE(errors().back().find("\"shared.plist\" could not be read"), std::string::npos)
                << errors().back();
        }
    }
}

TEST_F(InterprocessPreferencesTest, APathBasedTableNeverWatches) {
    std::string path = root / "table.plist";
    writeTable(path, Object{{"enabled", entry("bool", true)}});
    auto prefs = fileTable(path);
    EXPECT_EQ(categories, std::vector<std::string>{"sharedPref-filePathBased"});
    EXPECT_EQ(prefs->get(enabled), true);
    std::atomic<int> reloads{0};
    prefs->observe([&] { ++reloads; });
    writeTable(path, Object{});
    std::filesystem::remove(path);
    ASSERT_TRUE(barrier.wait());
    EXPECT_EQ(timers->pendingCount(), 0u);
    EXPECT_EQ(prefs->get(enabled), true);
}

TEST_F(InterprocessPreferencesTest, NamesCompareByTheirRawValue) {
    Prefs::PrefNameWithDefault<bool> on{"flag", true};
    Prefs::PrefNameWithDefault<bool> off{"flag", false};
    EXPECT_EQ(on, off);
    EXPECT_EQ(std::hash<Prefs::PrefNameWithDefault<bool>>{}(on), std::hash<Prefs::PrefNameWithDefault<bool>>{}(off));
    EXPECT_NE(on, (Prefs::PrefNameWithDefault<bool>{"other", true}));
    EXPECT_EQ(coding::encode(on), Value(Object{{"rawValue", "flag"}, {"defaultValue", true}}));
    EXPECT_EQ(coding::decode<Prefs::PrefNameWithDefault<bool>>(coding::encode(on)).defaultValue, true);
    EXPECT_EQ(coding::encode(Prefs::TableName{"t"}), Value("t"));
    EXPECT_EQ(coding::encode(label), Value("label"));
}

TEST_F(InterprocessPreferencesTest, ANameThatLeavesTheFolderNeverTouchesAFile) {
    for (const std::string& name : std::vector<std::string>{"../x", "", ".", "..", "a/b", std::string("a\0b", 3)}) {
        SCOPED_TRACE(name);
        std::size_t errorsBefore = errors().size();
        auto prefs = table(name);
        prefs->set(enabled, true);
        EXPECT_EQ(prefs->get(enabled), std::nullopt);
        EXPECT_EQ(errors().size(), errorsBefore + 1) << "one message, at creation";
    }
    EXPECT_FALSE(std::filesystem::exists(root / "machine"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root.path()), {}), 0);
}

TEST_F(InterprocessPreferencesTest, ConcurrentSetsLeaveTheLastSnapshotInTheFile) {
    std::string path = root / "table.plist";
    auto prefs = fileTable(path);
    std::vector<std::thread> writers;
    for (int writer = 0; writer < 4; ++writer) {
        writers.emplace_back([&, writer] {
            for (int round = 0; round < 20; ++round) {
                prefs->set(Prefs::PrefName<std::string>{"key" + std::to_string(writer)}, std::to_string(round));
            }
        });
    }
    for (auto& writer : writers) {
        writer.join();
    }
    auto reread = fileTable(path);
    for (int writer = 0; writer < 4; ++writer) {
        EXPECT_EQ(reread->get(Prefs::PrefName<std::string>{"key" + std::to_string(writer)}), "19");
    }
}

constexpr const char* writerFolderVariable = "VELMOR_TEST_TABLE_FOLDER";
constexpr const char* writerVariable = "VELMOR_TEST_TABLE_WRITER";
constexpr int keysPerWriter = 300;

Prefs::PrefName<std::string> writerKey(int writer, int index) {
    return {std::to_string(writer) + "-" + std::to_string(index)};
}

int keysPresent(const Prefs& prefs) {
    int present = 0;
    for (int writer = 0; writer < 2; ++writer) {
        for (int index = 0; index < keysPerWriter; ++index) {
            present += prefs.get(writerKey(writer, index)) == std::to_string(index) ? 1 : 0;
        }
    }
    return present;
}

// Two processes storing into one table at once, each a fresh run of this test: each one's keys reach
// the file and the other's table. No manual timers here: the writers' tables reload on their own.
TEST(InterprocessPreferencesWriters, TwoProcessesStoringIntoOneTableLoseNothing) {
    testing::Watchdog watchdog{"two table writers", 120};
    auto logger = std::make_shared<testing::RecordingLogger>();
    LoggerFactory loggers = [logger](const std::string&) { return logger; };
    if (testing::isChildTestRun()) {
        const std::string folder = std::getenv(writerFolderVariable);
        const int writer = std::stoi(std::getenv(writerVariable));
        Prefs prefs(Prefs::TableName{"shared"}, loggers, URL::fileURL(folder + "/Preferences"));
        prefs.setRunnningForTests(true);
        for (int index = 0; index < keysPerWriter; ++index) {
            prefs.set(writerKey(writer, index), std::to_string(index));
        }
        std::ofstream(folder + "/done-" + std::to_string(writer));
        ASSERT_TRUE(waitUntil([&] {
            return std::filesystem::exists(folder + "/done-0") && std::filesystem::exists(folder + "/done-1");
        }, 60));
        EXPECT_TRUE(waitUntil([&] { return keysPresent(prefs) == 2 * keysPerWriter; }, 60))
            << "writer " << writer << " sees " << keysPresent(prefs) << " keys";
        return;
    }
    testing::TemporaryDirectory root;
    std::vector<pid_t> writers;
    for (int writer = 0; writer < 2; ++writer) {
        writers.push_back(testing::startCurrentTestInChild({std::string(writerFolderVariable) + "=" + root.path(),
                                                            std::string(writerVariable) + "=" + std::to_string(writer)}));
    }
    for (pid_t writer : writers) {
        EXPECT_EQ(testing::waitForChildTest(writer, 100), 0);
    }
    Prefs reread(URL::fileURL(root / "Preferences/shared.plist"), loggers);
    EXPECT_EQ(keysPresent(reread), 2 * keysPerWriter);
}

class InterprocessPreferencesAcrossProcessesTest : public InterprocessPreferencesTest {
protected:
    void SetUp() override {
        if (::getuid() != 0) {
            GTEST_SKIP() << "needs root: sets are taken from root processes only, and the test drops to user 65534";
        }
        // The unprivileged reader must be able to reach the table folder.
        ::chmod(root.path().c_str(), 0755);
    }

    // A table in the child process over the same file, without a watch: a forked child has no
    // reactor thread.
    Prefs childTable() { return Prefs(URL::fileURL(folder + "/shared.plist"), loggers()); }
};

TEST_F(InterprocessPreferencesAcrossProcessesTest, ASetByAnotherUserIsDiscarded) {
    int result = testing::runAsUnprivilegedUser([&] {
        Prefs prefs = childTable();
        prefs.set(enabled, true);
        if (prefs.get(enabled).has_value()) {
            return 1;
        }
        auto lines = errors();
        return std::find(lines.begin(), lines.end(), "Cannot set value on InterprocessPreferences from non-root user") !=
                       lines.end()
                   ? 0
                   : 2;
    });
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(std::filesystem::exists(folder + "/shared.plist"));
}

// Any user may open the table's folder and file, and flock needs nothing more: none of that may
// hold off root's writes.
TEST_F(InterprocessPreferencesAcrossProcessesTest, AnotherUsersLocksDoNotHoldOffTheTablesWriters) {
    auto prefs = table();
    prefs->setRunnningForTests(false);
    prefs->set(label, std::string("before"));
    const std::size_t errorsBefore = errors().size();
    testing::LockHolder holder(folder, testing::unprivilegedUser);
    ASSERT_GE(holder.locksHeld().value_or(0), 2) << "the other user holds the folder and the table file";

    EXPECT_TRUE(testing::returnsWhileHeld(holder, [&] { prefs->set(label, std::string("after")); }))
        << "the set waited on another user's lock";
    EXPECT_EQ(coding::fromPropertyList(readAll(folder + "/shared.plist")),
              Value(Object{{"label", entry("string", "after")}}));
    EXPECT_EQ(errors().size(), errorsBefore);
}

constexpr const char* tableChildRoleVariable = "VELMOR_TABLE_CHILD_ROLE";
constexpr const char* tableChildFileVariable = "VELMOR_TABLE_CHILD_FILE";

TEST_F(InterprocessPreferencesAcrossProcessesTest, ARootWriterReachesTheWatchingTableAndEveryReader) {
    // The writer and the reader are fresh runs of this test, not forks: this process has the
    // watching table's threads, and a fork taken while one of them held a lock (the allocator's,
    // say) could wait on it for ever.
    if (testing::isChildTestRun()) {
        const std::string role = std::getenv(tableChildRoleVariable);
        if (role == "writer") {
            ::umask(077);
        } else {
            ASSERT_EQ(::setgroups(0, nullptr), 0);
            ASSERT_EQ(::setresgid(testing::unprivilegedUser, testing::unprivilegedUser, testing::unprivilegedUser), 0);
            ASSERT_EQ(::setresuid(testing::unprivilegedUser, testing::unprivilegedUser, testing::unprivilegedUser), 0);
        }
        Prefs child(URL::fileURL(std::getenv(tableChildFileVariable)), loggers());
        if (role == "writer") {
            child.set(label, std::string("from the child"));
        }
        EXPECT_EQ(child.get(label), "from the child")
            << (role == "writer" ? "the write failed"
                                 : "the file and its folders are readable by everyone whatever the writer's umask");
        return;
    }
    auto runChild = [&](const std::string& role) {
        return testing::waitForChildTest(testing::startCurrentTestInChild(
            {std::string(tableChildRoleVariable) + "=" + role,
             std::string(tableChildFileVariable) + "=" + folder + "/shared.plist"}));
    };
    auto prefs = table();
    prefs->setRunnningForTests(false);
    std::atomic<int> reloads{0};
    prefs->observe([&] { ++reloads; });
    ASSERT_EQ(runChild("writer"), 0);
    ASSERT_TRUE(barrier.wait());
    timers->advance(1);
    ASSERT_TRUE(waitUntil([&] { return reloads.load() == 1; }));
    EXPECT_EQ(prefs->get(label), "from the child");

    EXPECT_EQ(runChild("reader"), 0);
}

} // namespace
} // namespace velmor
