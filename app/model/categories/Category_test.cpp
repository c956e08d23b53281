#include "app/model/categories/Category.hpp"

#include "foundation/core/log/RecordingLogger.hpp"
#include "platform/concurrency/RunLoop.hpp"
#include "platform/concurrency/Task.hpp"
#include "platform/testing/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

namespace marrowdale {
namespace {

using Criterion = EncodableFileMatchingCriterion;

FileFinderCategory definition(std::string id, std::vector<std::string> paths, Criterion conditions) {
    FileFinderCategory category;
    category.id = std::move(id);
    category.paths = std::move(paths);
    category.conditions = std::move(conditions);
    category.engines = {FileFinderCategory::Engine::fileTraversal};
    return category;
}

// Runs the scan on a task, as the controller does, while this thread serves as the main thread.
// The scan works out search roots on the main thread only, so a scan that did it on its own task
// would stop the test.
CleanableNodes scanOnTask(Category category, const std::vector<FileFinderCategory>& definitions,
                          std::shared_ptr<velmor::testing::RecordingLogger> logger =
                              std::make_shared<velmor::testing::RecordingLogger>()) {
    velmor::ScopedMainRunLoop main;
    auto task = velmor::Task<CleanableNodes>::start([&] { return scan(category, definitions, logger); });
    EXPECT_TRUE(main.runUntil([&] { return task.isFinished(); }));
    CleanableNodes rows = task.value();
    return rows;
}

std::vector<std::string> sortedIds(const CleanableNodes& nodes) {
    std::vector<std::string> ids;
    for (const auto& node : nodes) {
        ids.push_back(node->id());
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

TEST(Category, NamesAndDefinitionIds) {
    EXPECT_EQ(allCategories(),
              (std::vector<Category>{Category::largeFiles, Category::junkFiles, Category::oldFiles}));
    EXPECT_STREQ(rawValue(Category::junkFiles), "junkFiles");
    EXPECT_EQ(categoryFromRawValue("oldFiles"), Category::oldFiles);
    EXPECT_EQ(categoryFromRawValue("OldFiles"), std::nullopt);
    EXPECT_EQ(definitionIds(Category::junkFiles), (std::vector<std::string>{"caches", "logs"}));
    EXPECT_EQ(definitionIds(Category::oldFiles), (std::vector<std::string>{"downloads", "trash"}));
    EXPECT_STREQ(imageName(Category::largeFiles), "Categories/large");
    EXPECT_STREQ(colorName(Category::oldFiles), "CategorySize/oldFiles");
}

class CategoryScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        tmp.writeFile("home/big/movie.mkv", std::string(3000, 'm'));
        tmp.writeFile("home/big/small.txt", "s");
        tmp.writeFile("home/cache/app/blob", "c");
        tmp.writeFile("home/logs/app.log", "l");
        tmp.writeFile("home/logs/app.txt", "t");
        tmp.writeFile("home/old/folder/ancient.iso", "o");
    }
    velmor::testing::TemporaryDirectory tmp;
};

TEST_F(CategoryScanTest, EachCategoryHasItsShape) {
    std::vector<FileFinderCategory> definitions = {
        definition("bigFiles", {tmp / "home"}, Criterion::withSize(Criterion::Kind::fileSizeGreater, 2000)),
        definition("caches", {tmp / "home/cache"}, Criterion::fileIsDeletable()),
        definition("logs", {tmp / "home/logs"}, Criterion::fileCaseInsensitiveExtension("log")),
        definition("downloads", {tmp / "home/old"}, Criterion::fileIsDeletable()),
        definition("unused", {tmp / "home"}, Criterion::fileIsDeletable()),
    };

    // Large files: a flat list of item rows.
    auto large = scanOnTask(Category::largeFiles, definitions);
    ASSERT_EQ(large.size(), 1u);
    EXPECT_TRUE(std::holds_alternative<sweepkit::FileSystemItem>(large[0]->payload()));
    EXPECT_EQ(large[0]->id(), tmp / "home/big/movie.mkv");

    // Junk: one row per definition holding its whole result.
    auto junk = scanOnTask(Category::junkFiles, definitions);
    EXPECT_EQ(sortedIds(junk), (std::vector<std::string>{"caches", "logs"}));
    for (const auto& row : junk) {
        const auto& whole = std::get<CleanableNode::NonBrowsableResult>(row->payload());
        EXPECT_EQ(whole.result.flattenedItems().size(), 1u) << row->id();
        EXPECT_FALSE(row->children());
    }

    // Old files: the finder's folder trees.
    auto old = scanOnTask(Category::oldFiles, definitions);
    ASSERT_EQ(old.size(), 1u);
    EXPECT_EQ(old[0]->id(), tmp / "home/old");
    ASSERT_TRUE(old[0]->children());
    EXPECT_EQ(old[0]->children()->at(0)->id(), tmp / "home/old/folder");
}

TEST_F(CategoryScanTest, AFailingDefinitionDropsOnlyItself) {
    auto withoutEngines = definition("logs", {tmp / "home/logs"}, Criterion::fileIsDeletable());
    withoutEngines.engines.clear();
    std::vector<FileFinderCategory> definitions = {
        definition("caches", {tmp / "home/cache"}, Criterion::fileCaseInsensitiveName("bad\xff")),
        withoutEngines,
        definition("caches", {tmp / "home/cache"}, Criterion::fileIsDeletable()),
    };
    auto junk = scanOnTask(Category::junkFiles, definitions);
    EXPECT_EQ(sortedIds(junk), (std::vector<std::string>{"caches"}));
    EXPECT_TRUE(scanOnTask(Category::largeFiles, definitions).empty());
}

TEST_F(CategoryScanTest, OldFilesLogTheFailuresTheirRowsCannotShow) {
    auto logger = std::make_shared<velmor::testing::RecordingLogger>();
    std::vector<FileFinderCategory> definitions = {
        definition("downloads", {tmp / "home/old", tmp / "home/missing"}, Criterion::fileIsDeletable()),
    };
    auto old = scanOnTask(Category::oldFiles, definitions, logger);
    ASSERT_EQ(old.size(), 1u);
    EXPECT_EQ(old[0]->id(), tmp / "home/old");
    const auto lines = logger->lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [&](const std::string& line) {
                                return line.starts_with("error: Search of downloads failed at " +
                                                        tmp / "home/missing" + ": ");
                            }),
              1)
        << ::testing::PrintToString(lines);
}

TEST_F(CategoryScanTest, BaseFindURLsNameEachFolderOnce) {
    std::vector<FileFinderCategory> definitions = {
        definition("downloads", {tmp / "home/old", tmp / "home/big"}, Criterion::fileIsDeletable()),
        definition("trash", {tmp / "home/old"}, Criterion::fileIsDeletable()),
        definition("caches", {tmp / "home/cache"}, Criterion::fileIsDeletable()),
    };
    velmor::ScopedMainRunLoop main;
    auto urls = baseFindURLs(Category::oldFiles, definitions);
    ASSERT_EQ(urls.size(), 2u);
    EXPECT_EQ(urls[0].path(), tmp / "home/old");
    EXPECT_EQ(urls[1].path(), tmp / "home/big");
}

TEST_F(CategoryScanTest, ADefinitionWithARelativeSearchPathIsSkippedAndLogged) {
    // Each would search (and so let clean) wherever the working directory happens to be.
    for (const std::string path : {"", "Documents", "./x", "../x"}) {
        std::vector<FileFinderCategory> definitions = {
            definition("caches", {path}, Criterion::fileIsDeletable()),
            definition("logs", {tmp / "home/logs"}, Criterion::fileCaseInsensitiveExtension("log"))};
        velmor::ScopedMainRunLoop main;
        auto logger = std::make_shared<velmor::testing::RecordingLogger>();
        auto task = velmor::Task<CleanableNodes>::start(
            [&] { return scan(Category::junkFiles, definitions, logger); });
        ASSERT_TRUE(main.runUntil([&] { return task.isFinished(); }));
        EXPECT_EQ(sortedIds(task.value()), (std::vector<std::string>{"logs"})) << "\"" << path << "\"";
        const auto lines = logger->lines();
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                                [&](const std::string& line) {
                                    return line.find("Skipping definition caches") != std::string::npos &&
                                           line.find("is not absolute") != std::string::npos;
                                }))
            << "\"" << path << "\"";
        auto urls = baseFindURLs(Category::junkFiles, definitions);
        ASSERT_EQ(urls.size(), 1u);
        EXPECT_EQ(urls[0].path(), tmp / "home/logs");
    }
}

} // namespace
} // namespace marrowdale
