#include "app/model/definitions/CategoryDefinitions.hpp"

#include "platform/coding/Decoding.hpp"
#include "platform/testing/HostileFiles.hpp"
#include "platform/testing/TemporaryDirectory.hpp"
#include "platform/testing/Watchdog.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace marrowdale {
namespace {

std::string plist(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\">" + body + "</plist>";
}

const std::string definition = R"(<dict>
    <key>id</key><string>logs</string>
    <key>type</key><string>custom</string>
    <key>paths</key><array><string>~/logs</string></array>
    <key>deleteEmptyFolders</key><false/>
    <key>conditions</key><dict><key>fileCaseInsensitiveExtension</key><dict><key>is</key><string>log</string></dict></dict>
</dict>)";

TEST(CategoryDefinitions, LoadsTheCategoriesInFileOrder) {
    auto categories =
        decodeCategoryDefinitions(plist("<dict><key>categories</key><array>" + definition +
                                        "<dict><key>id</key><string>second</string>"
                                        "<key>type</key><string>junk</string>"
                                        "<key>paths</key><array/>"
                                        "<key>deleteEmptyFolders</key><true/>"
                                        "<key>conditions</key><dict><key>fileIsDeletable</key><dict/></dict>"
                                        "<key>engines</key><array/></dict>"
                                        "</array></dict>"));
    ASSERT_EQ(categories.size(), 2u);
    EXPECT_EQ(categories[0].id, "logs");
    EXPECT_EQ(categories[0].engines, FileFinderCategory::allEngines);
    EXPECT_EQ(categories[1].id, "second");
    EXPECT_TRUE(categories[1].engines.empty());

    EXPECT_TRUE(decodeCategoryDefinitions(plist("<dict><key>categories</key><array/></dict>")).empty());
}

TEST(CategoryDefinitions, FailsWholeOrNotAtAll) {
    auto expectMissingEntry = [](const std::string& text) {
        try {
            decodeCategoryDefinitions(text);
            ADD_FAILURE() << text;
        } catch (const velmor::TypedError<CleanerError>& error) {
            EXPECT_EQ(error.value(), CleanerError::missingCategoryEntry);
        }
    };
    expectMissingEntry(plist("<dict/>"));
    expectMissingEntry(plist("<dict><key>other</key><array/></dict>"));

    const std::string failing[] = {
        // Another top-level key that is not a list of definitions fails although "categories" is fine.
        plist("<dict><key>categories</key><array>" + definition +
              "</array><key>x</key><string>s</string></dict>"),
        // One bad definition fails the whole file.
        plist("<dict><key>categories</key><array>" + definition +
              "<dict><key>id</key><string>y</string></dict>" + "</array></dict>"),
        plist("<array/>"),
        "not a property list",
    };
    for (const auto& text : failing) {
        EXPECT_THROW(decodeCategoryDefinitions(text), velmor::coding::DecodingError) << text;
    }
}

TEST(CategoryDefinitions, LoadsFromTheBundlesResource) {
    velmor::testing::TemporaryDirectory bundleFolder;
    velmor::Bundle bundle(velmor::URL::fileURL(bundleFolder.path()));
    try {
        loadFileFinderCategories(bundle);
        ADD_FAILURE();
    } catch (const velmor::TypedError<CleanerError>& error) {
        EXPECT_EQ(error.value(), CleanerError::missingCategoryFile);
    }
    bundleFolder.writeFile("Resources/parameters-categories.plist",
                           plist("<dict><key>categories</key><array>" + definition + "</array></dict>"));
    auto categories = loadFileFinderCategories(bundle);
    ASSERT_EQ(categories.size(), 1u);
    EXPECT_EQ(categories[0].id, "logs");
}

TEST(CategoryDefinitions, AHostileResourceFailsWithoutCrashingOrHanging) {
    velmor::testing::Watchdog watchdog("definitions from hostile files", 60);
    for (const auto& hostile :
         velmor::testing::hostileFiles(4 << 20, "<key>categories</key><array>" + definition + "</array>")) {
        velmor::testing::TemporaryDirectory bundleFolder;
        std::filesystem::create_directories(bundleFolder / "Resources");
        hostile.plant(bundleFolder / "Resources/parameters-categories.plist");
        velmor::Bundle bundle(velmor::URL::fileURL(bundleFolder.path()));
        try {
            auto categories = loadFileFinderCategories(bundle);
            ADD_FAILURE() << hostile.what << ": " << categories.size() << " categories";
        } catch (const velmor::coding::DecodingError&) {
        } catch (const velmor::TypedError<CleanerError>& error) {
            EXPECT_EQ(error.value(), CleanerError::missingCategoryFile) << hostile.what;
        } catch (const velmor::ErrorException& error) {
            EXPECT_NE(error.error().description().find("parameters-categories.plist"), std::string::npos)
                << hostile.what << ": " << error.error().description();
        }
    }
}

// The definitions the application ships: every one asks for deletability, and each category's ids
// are there.
TEST(CategoryDefinitions, TheShippedDefinitionsLoad) {
    std::ifstream file(MARROWDALE_RESOURCES_DIR "/parameters-categories.plist");
    ASSERT_TRUE(file);
    std::stringstream bytes;
    bytes << file.rdbuf();
    auto categories = decodeCategoryDefinitions(bytes.str());
    std::vector<std::string> ids;
    for (const auto& category : categories) {
        ids.push_back(category.id);
        const auto& conditions = category.conditions;
        bool asksDeletable = conditions.kind() == EncodableFileMatchingCriterion::Kind::fileIsDeletable;
        if (conditions.kind() == EncodableFileMatchingCriterion::Kind::and_) {
            for (const auto& part : conditions.subcriteria()) {
                asksDeletable = asksDeletable || part == EncodableFileMatchingCriterion::fileIsDeletable();
            }
        }
        EXPECT_TRUE(asksDeletable) << category.id;
        EXPECT_FALSE(category.paths.empty()) << category.id;
        EXPECT_FALSE(category.engines.empty()) << category.id;
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"bigFiles", "caches", "logs", "downloads", "trash"}));
}

} // namespace
} // namespace marrowdale
