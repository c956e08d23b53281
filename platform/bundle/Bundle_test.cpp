#include "platform/bundle/Bundle.hpp"

#include "platform/testing/InfoPlist.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace velmor {
namespace {

using velmor::testing::writeInfoPlist;

TEST(Bundle, ReadsItsInformationDictionary) {
    velmor::testing::TemporaryDirectory dir;
    writeInfoPlist(dir, ("<key>CFBundleIdentifier</key><string>com.example.app</string>"
                         "<key>CFBundleVersion</key><integer>42</integer>"
                         "<key>LSUIElement</key><true/>"
                         "<key>Nested</key><array><string>a</string></array>"));
    Bundle bundle(URL::fileURL(dir.path()));
    ASSERT_NE(bundle.infoDictionary(), nullptr);
    EXPECT_EQ(bundle.bundleIdentifier(), "com.example.app");
    ASSERT_NE(bundle.objectForInfoDictionaryKey("CFBundleVersion"), nullptr);
    EXPECT_EQ(*bundle.objectForInfoDictionaryKey("CFBundleVersion"), coding::Value(42));
    EXPECT_EQ(*bundle.objectForInfoDictionaryKey("LSUIElement"), coding::Value(true));
    EXPECT_EQ(*bundle.objectForInfoDictionaryKey("Nested"), coding::Value(coding::Array{"a"}));
    EXPECT_EQ(bundle.objectForInfoDictionaryKey("Missing"), nullptr);
}

TEST(Bundle, HasNoIdentifierWithoutAUsableInformationDictionary) {
    struct Case {
        const char* name;
        std::optional<std::string> infoPlist;
        bool hasDictionary;
    };
    const Case cases[] = {
        {"no Info.plist", std::nullopt, false},
        {"not a property list", "garbage", false},
        {"top level is an array", "<plist version=\"1.0\"><array/></plist>", false},
        {"identifier is no string",
         velmor::testing::infoPlistText("<key>CFBundleIdentifier</key><integer>1</integer>"), true},
        {"identifier missing", velmor::testing::infoPlistText("<key>Other</key><string>x</string>"), true},
    };
    for (const auto& c : cases) {
        velmor::testing::TemporaryDirectory dir;
        if (c.infoPlist) {
            dir.writeFile("Info.plist", *c.infoPlist);
        }
        Bundle bundle(URL::fileURL(dir.path()));
        EXPECT_EQ(bundle.infoDictionary() != nullptr, c.hasDictionary) << c.name;
        EXPECT_EQ(bundle.bundleIdentifier(), std::nullopt) << c.name;
    }
}

TEST(Bundle, FindsResourcesByNameAndExtension) {
    velmor::testing::TemporaryDirectory dir;
    dir.writeFile("Resources/parameters-categories.plist", "x");
    dir.writeFile("Resources/README", "x");
    dir.makeDirectory("Resources/folder.plist");
    Bundle bundle(URL::fileURL(dir.path()));
    EXPECT_EQ(bundle.urlForResource("parameters-categories", "plist"),
              URL::fileURL(dir / "Resources/parameters-categories.plist"));
    EXPECT_EQ(bundle.urlForResource("README", ""), URL::fileURL(dir / "Resources/README"));
    EXPECT_EQ(bundle.urlForResource("parameters-categories", "json"), std::nullopt);
    EXPECT_EQ(bundle.urlForResource("folder", "plist"), std::nullopt);
}

TEST(Bundle, MainBundleIsTheExecutablesFolderUnlessTheEnvironmentNamesOne) {
    ::unsetenv(Bundle::mainBundleEnvironmentKey);
    char buffer[4096];
    ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    ASSERT_GT(length, 0);
    std::filesystem::path executable(std::string(buffer, static_cast<std::size_t>(length)));
    EXPECT_EQ(Bundle::mainBundleURL().path(), executable.parent_path().string());

    ::setenv(Bundle::mainBundleEnvironmentKey, "", 1);
    EXPECT_EQ(Bundle::mainBundleURL().path(), executable.parent_path().string());
    ::setenv(Bundle::mainBundleEnvironmentKey, "/opt/Marrowdale", 1);
    EXPECT_EQ(Bundle::mainBundleURL().path(), "/opt/Marrowdale");
    ::unsetenv(Bundle::mainBundleEnvironmentKey);
}

} // namespace
} // namespace velmor
