#include "platform/fs/UserDirectories.hpp"

#include "platform/testing/ScopedEnvironment.hpp"

#include <gtest/gtest.h>

namespace velmor {
namespace {

using velmor::testing::ScopedEnvironment;

std::optional<std::string> pathOf(const std::optional<URL>& url) {
    return url ? std::optional<std::string>(url->path()) : std::nullopt;
}

TEST(UserDirectories, FollowTheXDGRulesAndNeverGiveARelativePath) {
    auto passwordHome = pathOf(passwordDatabaseHomeDirectory());
    ASSERT_TRUE(passwordHome) << "the test user has no home folder in the password database";
    struct Case {
        const char* name;
        std::optional<std::string> home, cache, config;
        std::optional<std::string> expectedHome, expectedCache, expectedConfig;
    };
    const Case cases[] = {
        {"XDG values win", "/h", "/c", "/k", "/h", "/c", "/k"},
        {"defaults under HOME", "/h", std::nullopt, std::nullopt, "/h", "/h/.cache", "/h/.config"},
        {"empty XDG values are ignored", "/h", "", "", "/h", "/h/.cache", "/h/.config"},
        {"relative XDG values are ignored", "/h", "c", "./k", "/h", "/h/.cache", "/h/.config"},
        {"relative HOME falls back to the password database", "h", std::nullopt, std::nullopt, *passwordHome,
         *passwordHome + "/.cache", *passwordHome + "/.config"},
        {"no HOME falls back to the password database", std::nullopt, "/c", std::nullopt, *passwordHome, "/c",
         *passwordHome + "/.config"},
    };
    for (const auto& c : cases) {
        ScopedEnvironment environment(
            {{"HOME", c.home}, {"XDG_CACHE_HOME", c.cache}, {"XDG_CONFIG_HOME", c.config}});
        EXPECT_EQ(pathOf(homeDirectory()), c.expectedHome) << c.name;
        EXPECT_EQ(pathOf(userCachesDirectory()), c.expectedCache) << c.name;
        EXPECT_EQ(pathOf(userConfigurationDirectory()), c.expectedConfig) << c.name;
    }
}

TEST(UserDirectories, TheTemporaryFolderIsAnAbsoluteTMPDIRElseTmp) {
    const std::pair<std::optional<std::string>, std::string> cases[] = {
        {"/var/scratch/", "/var/scratch"}, {std::nullopt, "/tmp"}, {"", "/tmp"}, {"scratch", "/tmp"}};
    for (const auto& [value, expected] : cases) {
        ScopedEnvironment environment({{"TMPDIR", value}});
        EXPECT_EQ(temporaryDirectory().path(), expected) << value.value_or("(unset)");
    }
}

} // namespace
} // namespace velmor
