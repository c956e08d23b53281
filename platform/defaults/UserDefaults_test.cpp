#include "platform/defaults/UserDefaults.hpp"

#include "platform/bundle/Bundle.hpp"
#include "platform/coding/PropertyList.hpp"
#include "platform/error/Error.hpp"
#include "platform/log/CaptureSink.hpp"
#include "platform/testing/ChildProcess.hpp"
#include "platform/testing/FileSnapshot.hpp"
#include "platform/testing/HostileFiles.hpp"
#include "platform/testing/InfoPlist.hpp"
#include "platform/testing/LockHolder.hpp"
#include "platform/testing/PrivateMount.hpp"
#include "platform/testing/PrivilegeDrop.hpp"
#include "platform/testing/ScopedEnvironment.hpp"
#include "platform/testing/TemporaryDirectory.hpp"
#include "platform/testing/Watchdog.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

namespace velmor {
namespace {

using velmor::testing::contentsOf;
using velmor::testing::ScopedEnvironment;
using velmor::testing::TemporaryDirectory;

std::vector<std::uint8_t> bytes(const std::string& text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

class UserDefaultsTest : public ::testing::Test {
protected:
    TemporaryDirectory dir_;
    ScopedEnvironment environment_{{{"XDG_CONFIG_HOME", dir_ / "config"}}};
    const std::string file_ = dir_ / "config/Velmor/Preferences/com.example.suite.plist";
};

TEST_F(UserDefaultsTest, RefusesSuiteNamesThatAreNoPlainFileName) {
    for (const std::string& name :
         {std::string(""), std::string("a/b"), std::string("."), std::string(".."), std::string("a\0b", 3)}) {
        EXPECT_THROW(UserDefaults{name}, std::invalid_argument) << "\"" << name << "\"";
    }
}

TEST_F(UserDefaultsTest, KeepsDataEntriesInAPrivateXMLPropertyList) {
    UserDefaults defaults("com.example.suite");
    ASSERT_TRUE(defaults.fileURL());
    EXPECT_EQ(defaults.fileURL()->path(), file_);
    EXPECT_EQ(defaults.data("token"), std::nullopt);

    defaults.set(bytes("secret"), "token");
    defaults.set(bytes("other"), "second");
    defaults.removeObject("missing");

    EXPECT_EQ(defaults.data("token"), bytes("secret"));
    EXPECT_EQ(contentsOf(file_).rfind("<?xml", 0), 0u);
    EXPECT_EQ(coding::fromPropertyList(contentsOf(file_)),
              coding::Value(coding::Object{{"token", coding::Data{bytes("secret")}},
                                           {"second", coding::Data{bytes("other")}}}));
    struct ::stat record {};
    ASSERT_EQ(::stat(file_.c_str(), &record), 0);
    EXPECT_EQ(record.st_mode & 0777, 0600u);

    defaults.removeObject("token");
    EXPECT_EQ(defaults.data("token"), std::nullopt);
    EXPECT_EQ(defaults.data("second"), bytes("other"));
}

TEST_F(UserDefaultsTest, KeepsEntriesItDidNotWriteAndReadsOnlyData) {
    dir_.writeFile("config/Velmor/Preferences/com.example.suite.plist",
                   velmor::testing::infoPlistText("<key>name</key><string>text</string>"
                                                  "<key>count</key><integer>3</integer>"
                                                  "<key>when</key><date>2024-01-02T03:04:05Z</date>"));
    UserDefaults defaults("com.example.suite");
    EXPECT_EQ(defaults.data("name"), std::nullopt) << "an entry that holds no data";

    defaults.set(bytes("x"), "added");

    auto root = coding::fromPropertyList(contentsOf(file_));
    auto object = root.get<coding::Object>();
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(*object->find("name"), coding::Value("text"));
    EXPECT_EQ(*object->find("count"), coding::Value(3));
    EXPECT_NE(object->find("when"), nullptr);
    EXPECT_EQ(*object->find("added"), coding::Value(coding::Data{bytes("x")}));
}

// Whether a log line begins with `start` and ends with `end`: the cause between may say more.
bool tells(const std::string& line, const std::string& start, const std::string& end) {
    return line.size() >= start.size() + end.size() && line.compare(0, start.size(), start) == 0 &&
           line.compare(line.size() - end.size(), end.size(), end) == 0;
}

// Reads twice, then writes, a suite whose file cannot be used, in the process that meets the file:
// "" when all went as it should, else what did not.
std::string readAndWriteUnusableSuite(const std::string& file, const std::string& cause) {
    auto sink = std::make_shared<log::CaptureSink>();
    auto previous = log::LogSink::install(sink);
    auto errorLines = [&] {
        std::vector<std::string> lines;
        for (const auto& entry : sink->entries()) {
            if (entry.type == log::LogType::error) {
                lines.push_back(entry.message);
            }
        }
        return lines;
    };
    const std::string failure = "Cannot read the user defaults file " + file + ": " + cause;
    std::string problems;
    try {
        UserDefaults defaults("com.example.suite");
        if (defaults.data("token") || defaults.data("token")) {
            problems += "a read gave data; ";
        }
        auto lines = errorLines();
        if (lines.size() != 1 || !tells(lines[0], failure, "; it reads as empty.")) {
            problems += "not one error line for the reads; ";
        }
        defaults.set(bytes("new"), "token");
        if (defaults.data("token") != bytes("new")) {
            problems += "the write is not read back; ";
        }
        lines = errorLines();
        if (lines.size() != 2 || !tells(lines[1], failure, "; it is kept as " + file + ".corrupt and a new one is written.")) {
            problems += "no error line for the kept file; ";
        }
    } catch (const std::exception& exception) {
        problems += std::string("threw ") + exception.what();
    }
    log::LogSink::install(previous);
    return problems;
}

TEST_F(UserDefaultsTest, AFileThatCannotBeUsedReadsAsEmptyAndIsKeptBesideWhenReplaced) {
    struct Case {
        const char* what;
        std::string contents;
        const char* cause;
        bool unreadable;
    };
    const Case cases[] = {
        {"no property list", "not a property list", "it is not a property-list dictionary", false},
        {"no dictionary", "<?xml version=\"1.0\"?><plist version=\"1.0\"><array/></plist>",
         "it is not a property-list dictionary", false},
        {"a file its user cannot read", velmor::testing::infoPlistText("<key>token</key><data>b2xk</data>"),
         "Permission denied", true},
    };
    const std::string folder = dir_ / "config/Velmor/Preferences";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(folder);
        dir_.writeFile("config/Velmor/Preferences/com.example.suite.plist", c.contents);
        if (!c.unreadable) {
            EXPECT_EQ(readAndWriteUnusableSuite(file_, c.cause), "");
        } else if (::getuid() != 0) {
            std::printf("Skipped \"%s\": needs root to make a file its user cannot read\n", c.what);
            continue;
        } else {
            // The user may reach and change the folder but not read the file.
            for (const std::string& path : {dir_.path(), dir_ / "config", dir_ / "config/Velmor"}) {
                ::chmod(path.c_str(), 0755);
            }
            ASSERT_EQ(::chown(folder.c_str(), velmor::testing::unprivilegedUser, velmor::testing::unprivilegedUser), 0);
            ASSERT_EQ(::chown(file_.c_str(), velmor::testing::unprivilegedUser, velmor::testing::unprivilegedUser), 0);
            ::chmod(file_.c_str(), 0);
            int result = velmor::testing::runAsUnprivilegedUser([&] {
                std::string problems = readAndWriteUnusableSuite(file_, c.cause);
                std::fprintf(stderr, "%s", problems.c_str());
                return problems.empty() ? 0 : 1;
            });
            EXPECT_EQ(result, 0);
        }
        EXPECT_EQ(contentsOf(file_ + ".corrupt"), c.contents);
        EXPECT_EQ(coding::fromPropertyList(contentsOf(file_)),
                  coding::Value(coding::Object{{"token", coding::Data{bytes("new")}}}));
    }
}

// A hostile file reads as empty with an error line naming it, and a write keeps it beside, untouched,
// before it writes the suite anew.
TEST_F(UserDefaultsTest, AHostileFileReadsAsEmptyNamingItAndIsKeptBesideUntouched) {
    velmor::testing::Watchdog watchdog("user defaults on hostile files", 60);
    std::filesystem::create_directories(std::filesystem::path(file_).parent_path());
    for (const auto& hostile : velmor::testing::hostileFiles(4 << 20, "<key>token</key><data>eA==</data>")) {
        SCOPED_TRACE(hostile.what);
        std::filesystem::remove_all(file_ + ".corrupt");
        hostile.plant(file_);
        struct ::stat before {};
        ASSERT_EQ(::lstat(file_.c_str(), &before), 0);
        const std::string contents = S_ISREG(before.st_mode) ? contentsOf(file_) : "";
        auto sink = std::make_shared<log::CaptureSink>();
        auto previous = log::LogSink::install(sink);
        UserDefaults defaults("com.example.suite");
        EXPECT_EQ(defaults.data("token"), std::nullopt);
        EXPECT_NO_THROW(defaults.set(bytes("x"), "token"));
        EXPECT_EQ(defaults.data("token"), bytes("x"));
        log::LogSink::install(previous);
        std::size_t naming = 0;
        for (const auto& entry : sink->entries()) {
            naming += entry.type == log::LogType::error && entry.message.find(file_) != std::string::npos;
        }
        EXPECT_EQ(naming, 2u);
        struct ::stat kept {};
        ASSERT_EQ(::lstat((file_ + ".corrupt").c_str(), &kept), 0);
        EXPECT_EQ(kept.st_ino, before.st_ino);
        if (S_ISREG(before.st_mode)) {
            EXPECT_EQ(contentsOf(file_ + ".corrupt"), contents);
        }
    }
}

TEST_F(UserDefaultsTest, AWriteTheReaderWouldRefuseFailsAndChangesNothing) {
    UserDefaults defaults("com.example.suite");
    defaults.set(bytes("kept"), "other");
    const std::string before = contentsOf(file_);
    // Written as base64 text, 3.5 MB take more than the 4 MiB a suite may hold.
    try {
        defaults.set(std::vector<std::uint8_t>(3'500'000, 'x'), "large");
        ADD_FAILURE() << "the write succeeded";
    } catch (const ErrorException& error) {
        const std::string description = error.error().description();
        for (const std::string& part : {file_, std::string("\"large\""), std::to_string(4 << 20)}) {
            EXPECT_NE(description.find(part), std::string::npos) << part << " in " << description;
        }
    }
    EXPECT_TRUE(contentsOf(file_) == before);
    EXPECT_FALSE(std::filesystem::exists(file_ + ".corrupt"));
    EXPECT_EQ(defaults.data("other"), bytes("kept"));
    EXPECT_FALSE(defaults.data("large"));
    // What fits is still taken.
    defaults.set(std::vector<std::uint8_t>(2'000'000, 'y'), "large");
    EXPECT_EQ(defaults.data("large").value_or(std::vector<std::uint8_t>()).size(), 2'000'000u);
    EXPECT_EQ(defaults.data("other"), bytes("kept"));

    // A file within the limit that is past it once written again: the error does not blame the
    // value set. 300 dictionaries deep, each of 20,000 values takes a line indented 300 tabs.
    std::string nested;
    for (int level = 0; level < 300; ++level) {
        nested += "<key>k</key><dict>";
    }
    nested += "<key>values</key><array>";
    for (int value = 0; value < 20000; ++value) {
        nested += "<true/>";
    }
    nested += "</array>";
    for (int level = 0; level < 300; ++level) {
        nested += "</dict>";
    }
    dir_.writeFile("config/Velmor/Preferences/com.example.suite.plist", velmor::testing::infoPlistText(nested));
    try {
        defaults.set(bytes("x"), "small");
        ADD_FAILURE() << "the write succeeded";
    } catch (const ErrorException& error) {
        const std::string description = error.error().description();
        EXPECT_EQ(description.find("\"small\""), std::string::npos) << description;
        EXPECT_NE(description.find("what it holds now"), std::string::npos) << description;
    }
}

// A binary suite may hold what the written form has no plain value for: a UID is kept as the
// dictionary that stands for it in XML, and a string that is not UTF-8, which no form we write can
// hold, is kept in the old file beside while every other entry is written.
TEST_F(UserDefaultsTest, ABinarySuiteKeepsWhatItHoldsWhenWrittenAgain) {
    for (const bool withText : {false, true}) {
        SCOPED_TRACE(withText ? "with a string that is no UTF-8" : "with a UID");
        std::filesystem::remove_all(dir_ / "config");
        velmor::testing::BinaryPropertyListWriter writer;
        std::vector<std::pair<std::size_t, std::size_t>> entries{
            {writer.string("token"), writer.raw("\x43old")}, {writer.string("ref"), writer.raw("\x80\x07")}};
        if (withText) {
            entries.push_back({writer.string("name"), writer.string("caf\xe9")});
        }
        const std::string original = writer.bytes(writer.dictionary(entries));
        dir_.writeFile("config/Velmor/Preferences/com.example.suite.plist", original);
        auto sink = std::make_shared<log::CaptureSink>();
        auto previous = log::LogSink::install(sink);
        UserDefaults defaults("com.example.suite");
        EXPECT_NO_THROW(defaults.set(bytes("x"), "added"));
        log::LogSink::install(previous);

        EXPECT_EQ(defaults.data("token"), bytes("old"));
        EXPECT_EQ(defaults.data("added"), bytes("x"));
        const coding::Value written = coding::fromPropertyList(contentsOf(file_));
        const auto* root = written.get<coding::Object>();
        ASSERT_NE(root, nullptr);
        ASSERT_NE(root->find("ref"), nullptr);
        EXPECT_EQ(*root->find("ref"), coding::Value(coding::Object{{"CF$UID", 7}}));
        EXPECT_EQ(root->find("name"), nullptr);
        if (withText) {
            EXPECT_EQ(contentsOf(file_ + ".corrupt"), original);
            std::size_t naming = 0;
            for (const auto& entry : sink->entries()) {
                naming += entry.type == log::LogType::error && entry.message.find(file_) != std::string::npos &&
                          entry.message.find("\"name\"") != std::string::npos;
            }
            EXPECT_EQ(naming, 1u);
        } else {
            EXPECT_FALSE(std::filesystem::exists(file_ + ".corrupt"));
        }
    }
}

TEST_F(UserDefaultsTest, AFailedWriteOfASuiteWithUnwritableStringsLeavesItsEntries) {
    const std::string config = dir_ / "config";
    std::filesystem::create_directories(config);
    const int result = velmor::testing::runInChildProcess([&] {
        if (const std::string skipped = velmor::testing::mountPrivateTmpfs(config); !skipped.empty()) {
            std::printf("Skipped: a full file system needs a private mount: %s\n", skipped.c_str());
            return 0;
        }
        velmor::testing::BinaryPropertyListWriter writer;
        const std::string original = writer.bytes(writer.dictionary(
            {{writer.string("token"), writer.raw("\x43old")}, {writer.string("name"), writer.string("caf\xe9")}}));
        std::filesystem::create_directories(config + "/Velmor/Preferences");
        std::ofstream(file_, std::ios::binary) << original;
        // Fill the file system: the suite written again finds no room.
        {
            std::ofstream filler(config + "/filler", std::ios::binary);
            const std::string block(4096, 'f');
            while (filler.write(block.data(), block.size()) && filler.flush()) {
            }
        }
        UserDefaults defaults("com.example.suite");
        bool failed = false;
        try {
            defaults.set(bytes("x"), "added");
        } catch (const ErrorException&) {
            failed = true;
        }
        std::string problems;
        if (!failed) {
            problems += "the write succeeded; ";
        }
        if (defaults.data("token") != bytes("old")) {
            problems += "the other entry is gone; ";
        }
        if (contentsOf(file_) != original) {
            problems += "the file changed; ";
        }
        std::fprintf(stderr, "%s\n", problems.c_str());
        return problems.empty() ? 0 : 1;
    });
    EXPECT_EQ(result, 0);
}

// Whether a failed write of `defaults` names its file and the cause: "" when it does, else what it said.
std::string writeFailureWithout(UserDefaults& defaults, const std::string& cause) {
    try {
        defaults.set(bytes("x"), "token");
    } catch (const std::exception& exception) {
        const std::string said = exception.what();
        const bool names = said.find(defaults.fileURL()->path()) != std::string::npos &&
                           said.find(cause) != std::string::npos;
        return names ? "" : said;
    }
    return "the write succeeded";
}

TEST_F(UserDefaultsTest, AWriteErrorNamesTheFileAndItsCause) {
    std::filesystem::create_directories(dir_ / "config/Velmor/Preferences");
    dir_.writeFile("config/Velmor/Preferences/com.example.suite.plist", velmor::testing::infoPlistText(""));
    std::string skipped;
    const int result = velmor::testing::runInChildProcess([&] {
        const std::string config = dir_ / "config";
        // Keep what is there: the memory file system gets the same folder and file before it turns read-only.
        skipped = velmor::testing::mountPrivateTmpfs(config);
        if (!skipped.empty()) {
            std::printf("Skipped: a read-only file system needs a private mount: %s\n", skipped.c_str());
            return 0;
        }
        std::filesystem::create_directories(config + "/Velmor/Preferences");
        std::ofstream(file_) << velmor::testing::infoPlistText("");
        if (::mount(nullptr, config.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
            std::printf("Skipped: cannot make the file system read-only: %s\n", std::strerror(errno));
            return 0;
        }
        std::string problems;
        UserDefaults existing("com.example.suite");
        problems += writeFailureWithout(existing, "Read-only file system");
        // A suite whose folder cannot be made.
        setenv("XDG_CONFIG_HOME", (config + "/missing").c_str(), 1);
        UserDefaults unmade("com.example.suite");
        problems += writeFailureWithout(unmade, "Read-only file system");
        std::fprintf(stderr, "%s\n", problems.c_str());
        return problems.empty() ? 0 : 1;
    });
    EXPECT_EQ(result, 0);
}

// A writer of the suite stopped while it held the suite's lock: a write gives up within seconds,
// naming the file, and the file keeps what it held; reads go on.
TEST_F(UserDefaultsTest, AWriteHeldOffByAnotherWriterFailsWithinSecondsAndChangesNothing) {
    UserDefaults defaults("com.example.suite");
    defaults.set(bytes("before"), "value");
    const std::string before = contentsOf(file_);
    velmor::testing::LockHolder holder(std::filesystem::path(file_).parent_path());
    ASSERT_GE(holder.locksHeld().value_or(0), 2);

    std::string failure;
    EXPECT_TRUE(velmor::testing::returnsWhileHeld(holder, [&] {
        try {
            defaults.set(bytes("during"), "value");
            failure = "none";
        } catch (const ErrorException& error) {
            failure = error.error().description();
        }
    })) << "the write kept waiting for the lock";
    EXPECT_EQ(defaults.data("value"), bytes("before"));
    holder.release();
    EXPECT_NE(failure.find(file_), std::string::npos) << failure;
    EXPECT_TRUE(contentsOf(file_) == before);
    defaults.set(bytes("after"), "value");
    EXPECT_EQ(defaults.data("value"), bytes("after"));
}

// Other users may open the Preferences folder, and flock needs nothing more: that may not hold off
// this user's writes.
TEST_F(UserDefaultsTest, AnotherUsersLocksDoNotHoldOffAWrite) {
    if (::getuid() != 0) {
        GTEST_SKIP() << "needs root: the locks are taken as user 65534";
    }
    ::chmod(dir_.path().c_str(), 0755);
    UserDefaults defaults("com.example.suite");
    defaults.set(bytes("before"), "value");
    velmor::testing::LockHolder holder(std::filesystem::path(file_).parent_path(),
                                       velmor::testing::unprivilegedUser);
    ASSERT_GE(holder.locksHeld().value_or(0), 1) << "the other user holds the folder";

    EXPECT_TRUE(velmor::testing::returnsWhileHeld(holder, [&] { defaults.set(bytes("after"), "value"); }))
        << "the write waited on another user's lock";
    EXPECT_EQ(defaults.data("value"), bytes("after"));
}

constexpr int writers = 4;
constexpr int entriesEach = 25;

std::string entryKey(int writer, int entry) {
    return std::to_string(writer) + "-" + std::to_string(entry);
}

void writeEntries(UserDefaults& defaults, int writer) {
    for (int entry = 0; entry < entriesEach; ++entry) {
        defaults.set(bytes(entryKey(writer, entry)), entryKey(writer, entry));
    }
}

void expectEveryEntry() {
    UserDefaults defaults("com.example.suite");
    for (int writer = 0; writer < writers; ++writer) {
        for (int entry = 0; entry < entriesEach; ++entry) {
            EXPECT_EQ(defaults.data(entryKey(writer, entry)), bytes(entryKey(writer, entry)));
        }
    }
}

TEST_F(UserDefaultsTest, ProcessesWritingDifferentEntriesLoseNothing) {
    std::vector<pid_t> children;
    for (int writer = 0; writer < writers; ++writer) {
        pid_t child = ::fork();
        if (child == 0) {
            UserDefaults defaults("com.example.suite");
            writeEntries(defaults, writer);
            ::_exit(0);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    expectEveryEntry();
}

TEST_F(UserDefaultsTest, ThreadsSharingASuiteLoseNothing) {
    UserDefaults defaults("com.example.suite");
    std::vector<std::thread> threads;
    for (int writer = 0; writer < writers; ++writer) {
        threads.emplace_back([&defaults, writer] { writeEntries(defaults, writer); });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    expectEveryEntry();
}

TEST_F(UserDefaultsTest, TheStandardSuiteIsNamedByTheMainBundleElseByTheExecutable) {
    TemporaryDirectory bundle;
    velmor::testing::writeInfoPlist(bundle, "<key>CFBundleIdentifier</key><string>com.example.main</string>");
    struct Case {
        const char* name;
        std::string mainBundle;
        std::string expectedSuite;
    };
    const Case cases[] = {
        {"bundle with an identifier", bundle.path(), "com.example.main"},
        {"folder without Info.plist", dir_.path(), "platform_defaults_tests"},
    };
    for (const auto& c : cases) {
        ScopedEnvironment environment({{Bundle::mainBundleEnvironmentKey, c.mainBundle}});
        // The main bundle and the standard suite are fixed on first use, so each case gets a process.
        int result = velmor::testing::runInChildProcess(
            [&] { return UserDefaults::standard().suiteName() == c.expectedSuite ? 0 : 1; });
        EXPECT_EQ(result, 0) << c.name;
    }
}

} // namespace
} // namespace velmor
