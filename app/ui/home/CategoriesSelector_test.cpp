#include "app/ui/home/CategoriesSelector.hpp"

#include "app/model/testing/DefinitionsBundle.hpp"
#include "app/ui/home/CategorySizes.hpp"
#include "app/ui/home/CategoryView.hpp"
#include "app/ui/testing/CleanerRuns.hpp"
#include "app/ui/testing/Screenshots.hpp"
#include "foundation/core/log/RecordingLogger.hpp"
#include "platform/error/Error.hpp"

#include <QImage>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include <sys/stat.h>

namespace marrowdale {
namespace {

using Kind = Cleaner::State::Kind;
constexpr auto maxBytes = std::numeric_limits<std::int64_t>::max();

CleanableNodePtr file(const std::string& path, std::int64_t size) {
    velmor::Stat stat;
    stat.st_mode = S_IFREG | 0644;
    stat.st_size = size;
    return CleanableNode::item(sweepkit::FileSystemItem{velmor::URL::fileURL(path), stat, true});
}

Cleaner::Results results() {
    return {{Category::largeFiles, CleanableNodes{file("/fixture/a", 50), file("/fixture/b", 100)}},
            {Category::junkFiles, velmor::Error::posix(EACCES)},
            {Category::oldFiles, CleanableNodes{}}};
}

TEST(CategorySizes, SumsTheResultsOnShowOnly) {
    EXPECT_FALSE(categorySizes(Cleaner::State::stopped()));
    EXPECT_FALSE(categorySizes(Cleaner::State::scanning()));
    const SizesByCategory expected{
        {Category::largeFiles, 150}, {Category::junkFiles, 0}, {Category::oldFiles, 0}};
    EXPECT_EQ(categorySizes(Cleaner::State::scanned(results())), expected);
    EXPECT_EQ(categorySizes(Cleaner::State::cleaning(results())), expected);

    // A category missing from the results has no entry at all.
    const auto partial = categorySizes(Cleaner::State::scanned({{Category::oldFiles, CleanableNodes{}}}));
    EXPECT_EQ(partial, (SizesByCategory{{Category::oldFiles, 0}}));
}

TEST(CategorySizes, HugeSizesSaturateInsteadOfTurningNegative) {
    const Cleaner::Results huge{{Category::largeFiles, CleanableNodes{file("/fixture/a", maxBytes - 1),
                                                                      file("/fixture/b", maxBytes - 1)}},
                                {Category::oldFiles, CleanableNodes{file("/fixture/c", maxBytes - 1)}}};
    const SizesByCategory sizes = *categorySizes(Cleaner::State::scanned(huge));
    EXPECT_EQ(sizes.at(Category::largeFiles), maxBytes);
    EXPECT_EQ(totalSize(sizes), maxBytes);
}

TEST(CategoryBarWidth, ShareOfTheTileWithAMinimumAndNeverNaN) {
    struct Case {
        double width;
        std::int64_t size;
        std::int64_t total;
        double expected;
    };
    const Case cases[] = {
        {300, 0, 200, 15}, {300, 50, 200, 75}, {300, 150, 200, 225},           {300, 200, 200, 300},
        {300, 0, 0, 15},   {0, 50, 200, 15},   {300, maxBytes, maxBytes, 300}, {300, 1, maxBytes, 15},
    };
    for (const auto& c : cases) {
        const double width = categoryBarWidth(c.width, c.size, c.total);
        EXPECT_TRUE(std::isfinite(width)) << c.size << "/" << c.total;
        EXPECT_DOUBLE_EQ(width, c.expected) << c.size << "/" << c.total;
    }
}

TEST(CategoryViewTest, DrawsEachCaseOfSizes) {
    struct Case {
        const char* picture;
        std::optional<std::int64_t> size;
        std::optional<std::int64_t> total;
        bool selected;
        QString sizeText;
        std::optional<double> bar;
        bool highlighted;
    };
    const Case cases[] = {
        {"tile-before-scan-selected", std::nullopt, std::nullopt, true, "", std::nullopt, false},
        {"tile-missing-from-results", std::nullopt, 200, false, "", std::nullopt, false},
        {"tile-zero-of-200", 0, 200, false, "Zero kB", 15, false},
        {"tile-50-of-200-selected", 50, 200, true, "50 bytes", 75, true},
        {"tile-150-of-200", 150, 200, false, "150 bytes", 225, false},
        {"tile-nothing-found-anywhere", 0, 0, true, "Zero kB", 15, true},
    };
    for (const auto& c : cases) {
        CategoryView tile(Category::largeFiles);
        // 300 points for the contents, as the bar widths above assume.
        const QMargins margins = CategoryView::shadowMargins();
        tile.resize(300 + margins.left() + margins.right(), tile.sizeHint().height());
        tile.setValues(c.size, c.total, c.selected);
        tile.show();
        EXPECT_EQ(tile.nameText(), "Large Files") << c.picture;
        EXPECT_EQ(tile.sizeText(), c.sizeText) << c.picture;
        EXPECT_EQ(tile.barWidth(), c.bar) << c.picture;
        EXPECT_EQ(tile.isHighlighted(), c.highlighted) << c.picture;
        testing::saveScreenshot(tile, c.picture);
    }
}

TEST(CategoryViewTest, TheBarsShadowFitsInTheTileAndKeyboardFocusShows) {
    CategoryView tile(Category::oldFiles);
    tile.resize(300, tile.sizeHint().height());
    tile.setValues(200, 200, false); // a bar across the whole tile
    tile.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&tile));
    tile.clearFocus(); // a window shown alone gives its one widget the focus
    const QImage image = testing::drawnOnTransparent(tile);
    testing::saveScreenshot(tile, "tile-full-bar-shadow");
    // Nothing is drawn on the tile's outermost pixels: the shadow fades out inside it.
    for (int x = 0; x < image.width(); ++x) {
        ASSERT_EQ(qAlpha(image.pixel(x, image.height() - 1)), 0) << "shadow cut at the bottom, x " << x;
    }
    for (int y = 0; y < image.height(); ++y) {
        ASSERT_EQ(qAlpha(image.pixel(0, y)), 0) << "shadow cut on the left, y " << y;
        ASSERT_EQ(qAlpha(image.pixel(image.width() - 1, y)), 0) << "shadow cut on the right, y " << y;
    }

    tile.setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(tile.hasFocus());
    const QImage focused = testing::drawnOnTransparent(tile);
    testing::saveScreenshot(tile, "tile-keyboard-focus");
    EXPECT_NE(focused, image) << "keyboard focus on the tile does not show";
}

// A cleaner with no definitions: its scan finds nothing in any category, quickly.
class CategoriesSelectorTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::writeDefinitions(bundle, {});
        cleaner = Cleaner::make([this](const std::string&) { return logger; },
                                velmor::Bundle(velmor::URL::fileURL(bundle.path())));
        selector = std::make_unique<CategoriesSelector>(
            cleaner, Category::largeFiles, [this](Category category) { asked.push_back(category); });
        selector->resize(300, selector->sizeHint().height());
        selector->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(selector.get()));
    }

    void TearDown() override { testing::endCurrentRun(*cleaner); }

    CategoryView& tile(Category category) {
        for (CategoryView* tile : selector->tiles()) {
            if (tile->category() == category) {
                return *tile;
            }
        }
        throw std::logic_error("no tile");
    }

    velmor::testing::TemporaryDirectory bundle;
    std::shared_ptr<velmor::testing::RecordingLogger> logger =
        std::make_shared<velmor::testing::RecordingLogger>();
    std::shared_ptr<Cleaner> cleaner;
    std::unique_ptr<CategoriesSelector> selector;
    std::vector<Category> asked;
};

TEST_F(CategoriesSelectorTest, FollowsTheCleanerFromBeforeAScanToResults) {
    ASSERT_EQ(selector->tiles().size(), cleaner->categories().size());
    for (std::size_t i = 0; i < selector->tiles().size(); ++i) {
        EXPECT_EQ(selector->tiles()[i]->category(), cleaner->categories()[i]);
    }
    for (CategoryView* tile : selector->tiles()) {
        EXPECT_EQ(tile->sizeText(), "");
        EXPECT_FALSE(tile->barWidth());
        EXPECT_FALSE(tile->isHighlighted());
    }
    testing::saveScreenshot(*selector, "categories-before-scan");

    // Held in `scanning`: the events that would finish the scan are not pumped yet.
    cleaner->scan();
    selector->flush();
    ASSERT_EQ(cleaner->state().kind, Kind::scanning);
    QTest::mouseClick(&tile(Category::oldFiles), Qt::LeftButton);
    EXPECT_EQ(asked, std::vector{Category::oldFiles});
    EXPECT_EQ(selector->selection(), Category::oldFiles);
    EXPECT_FALSE(tile(Category::oldFiles).isHighlighted());
    testing::saveScreenshot(*selector, "categories-click-while-scanning");

    ASSERT_TRUE(testing::waitForState(*cleaner, Kind::scanned));
    selector->flush();
    for (CategoryView* tile : selector->tiles()) {
        EXPECT_EQ(tile->sizeText(), "Zero kB");
        EXPECT_EQ(tile->barWidth(), 15.0);
        EXPECT_EQ(tile->isHighlighted(), tile->category() == Category::oldFiles);
    }
    testing::saveScreenshot(*selector, "categories-nothing-found");
}

} // namespace
} // namespace marrowdale
