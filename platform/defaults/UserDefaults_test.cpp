#include "platform/defaults/UserDefaults.hpp"

#include "platform/bundle/Bundle.hpp"
#include "platform/coding/PropertyList.hpp"
#include "platform/error/Error.hpp"
#include "platform/testing/ChildProcess.hpp"
#include "platform/testing/FileSnapshot.hpp"
#include "platform/testing/HostileFiles.hpp"
#include "platform/testing/InfoPlist.hpp"
#include "platform/testing/ScopedEnvironment.hpp"
#include "platform/testing/TemporaryDirectory.hpp"
#include "platform/testing/Watchdog.hpp"

#include <gtest/gtest.h>

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

TEST_F(UserDefaultsTest, AFileThatIsNoDictionaryIsAnErrorAndIsLeftAsItIs) {
    const std::string garbage = "not a property list";
    dir_.writeFile("config/Velmor/Preferences/com.example.suite.plist", garbage);
    UserDefaults defaults("com.example.suite");
    EXPECT_THROW(defaults.data("token"), ErrorException);
    EXPECT_THROW(defaults.set(bytes("x"), "token"), ErrorException);
    EXPECT_THROW(defaults.removeObject("token"), ErrorException);
    EXPECT_EQ(contentsOf(file_), garbage);
}

TEST_F(UserDefaultsTest, AHostileFileIsAnErrorNamingItAndIsLeftAsItIs) {
    velmor::testing::Watchdog watchdog("user defaults on hostile files", 60);
    std::filesystem::create_directories(std::filesystem::path(file_).parent_path());
    for (const auto& hostile : velmor::testing::hostileFiles(4 << 20, "<key>token</key><data>eA==</data>")) {
        SCOPED_TRACE(hostile.what);
        hostile.plant(file_);
        struct ::stat before {};
        ASSERT_EQ(::lstat(file_.c_str(), &before), 0);
        const std::string contents = S_ISREG(before.st_mode) ? contentsOf(file_) : "";
        UserDefaults defaults("com.example.suite");
        for (const auto& attempt : std::vector<std::function<void()>>{
                 [&] { defaults.data("token"); }, [&] { defaults.set(bytes("x"), "token"); },
                 [&] { defaults.removeObject("token"); }}) {
            try {
                attempt();
                ADD_FAILURE() << "no error";
            } catch (const ErrorException& error) {
                EXPECT_NE(error.error().description().find(file_), std::string::npos)
                    << error.error().description();
            }
        }
        struct ::stat after {};
        ASSERT_EQ(::lstat(file_.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
        if (S_ISREG(before.st_mode)) {
            EXPECT_EQ(contentsOf(file_), contents);
        }
    }
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
