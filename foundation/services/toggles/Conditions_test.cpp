#include "foundation/core/log/RecordingLogger.hpp"
#include "foundation/services/toggles/Condition.hpp"
#include "foundation/services/toggles/RootFlagFile.hpp"
#include "foundation/services/toggles/SystemConditions.hpp"
#include "platform/testing/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

namespace velmor {
namespace {

// Answers as told and counts how often it was asked.
class Counting : public Condition {
public:
    Counting(bool answer, int& asked) : answer_(answer), asked_(&asked) {}
    bool isFulfilled() const override {
        ++*asked_;
        return answer_;
    }

private:
    bool answer_;
    int* asked_;
};

TEST(Combinators, EmptyListsAndShortCircuits) {
    EXPECT_FALSE(AnyOf().isFulfilled());
    EXPECT_TRUE(AllOf().isFulfilled());
    EXPECT_FALSE(Not(AllOf()).isFulfilled());
    EXPECT_TRUE(Not(AnyOf()).isFulfilled());

    struct Case {
        bool any; // AnyOf, else AllOf
        bool first, second;
        bool fulfilled;
        int secondAsked;
    };
    const Case cases[] = {
        {true, true, false, true, 0},   {true, false, true, true, 1},   {true, false, false, false, 1},
        {false, false, true, false, 0}, {false, true, false, false, 1}, {false, true, true, true, 1},
    };
    for (const auto& c : cases) {
        int firstAsked = 0, secondAsked = 0;
        Counting a(c.first, firstAsked), b(c.second, secondAsked);
        bool result = c.any ? AnyOf(a, b).isFulfilled() : AllOf(a, b).isFulfilled();
        EXPECT_EQ(result, c.fulfilled) << c.any << c.first << c.second;
        EXPECT_EQ(firstAsked, 1);
        EXPECT_EQ(secondAsked, c.secondAsked) << c.any << c.first << c.second;
    }
}

TEST(SystemConditions, AnswerAsOnTheirOwnSystem) {
    EXPECT_TRUE(IsRunningForTests().isFulfilled());
    EXPECT_TRUE(MacOSVersionAtLeast10Dot14().isFulfilled());
    EXPECT_TRUE(AppleSilicon().isFulfilled());
    EXPECT_FALSE(DebugMode().isFulfilled());
}

class RootFlagFileTest : public ::testing::Test {
protected:
    RootFlagFileTest()
        : settings([this](const std::string& category) {
              categories.push_back(category);
              return logger;
          }) {
        settings.rootFlagLocation = URL::fileURL(folder.path());
    }

    RootFlagFile flag(const std::string& name) const {
        return RootFlagFile(settings, [&name](std::string sequence) { return sequence + name; });
    }

    testing::TemporaryDirectory folder;
    std::shared_ptr<testing::RecordingLogger> logger = std::make_shared<testing::RecordingLogger>();
    std::vector<std::string> categories;
    FeatureToggleSettings settings;
};

TEST_F(RootFlagFileTest, FollowsOwnerOfTheEntryNotOfWhatItPointsTo) {
    EXPECT_EQ(categories, std::vector<std::string>{"FeatureToggle"});
    EXPECT_EQ(FeatureToggleSettings(settings).rootFlagLocation, URL::fileURL(folder.path()));
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to give entries to root and to user 65534";
    }
    const auto file = folder.writeFile(".beta");
    ASSERT_EQ(::chown(file.c_str(), 65534, 65534), 0);
    EXPECT_FALSE(flag("beta").isFulfilled());
    ASSERT_EQ(::chown(file.c_str(), 0, 0), 0);
    EXPECT_TRUE(flag("beta").isFulfilled());

    ASSERT_EQ(::symlink("/nowhere/at/all", (folder / ".dangling").c_str()), 0);
    EXPECT_TRUE(flag("dangling").isFulfilled());

    ASSERT_EQ(::symlink(file.c_str(), (folder / ".borrowed").c_str()), 0);
    ASSERT_EQ(::lchown((folder / ".borrowed").c_str(), 65534, 65534), 0);
    EXPECT_FALSE(flag("borrowed").isFulfilled());

    EXPECT_FALSE(flag("missing").isFulfilled());
    EXPECT_EQ(
        logger->lines(),
        (std::vector<std::string>{"debug: Flag invalid for beta", "debug: Flag is active for beta",
                                  "debug: Flag is active for dangling", "debug: Flag invalid for borrowed"}));
}

TEST_F(RootFlagFileTest, NamesThatLeaveTheFolderAndAMissingFolderAreOff) {
    // An entry outside the flag folder must not be reachable through the name.
    folder.makeDirectory("flags/.x");
    folder.writeFile(".secret");
    settings.rootFlagLocation = URL::fileURL(folder / "flags");
    EXPECT_FALSE(flag("x/../../.secret").isFulfilled());
    EXPECT_FALSE(flag("a/b").isFulfilled());
    EXPECT_FALSE(flag("").isFulfilled());

    settings.rootFlagLocation.reset();
    folder.writeFile("flags/.beta");
    EXPECT_FALSE(flag("beta").isFulfilled());
    auto lines = logger->lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "debug: Invalid flag name x/../../.secret");
    EXPECT_EQ(lines[1], "debug: Invalid flag name a/b");
    EXPECT_EQ(lines[3], "debug: Can't find baseURL for RootFlagFile Feature Toggle");
}

} // namespace
} // namespace velmor
