#include "app/ui/home/HomeView.hpp"

#include "app/model/testing/DefinitionsBundle.hpp"
#include "app/ui/home/CategoriesSelector.hpp"
#include "app/ui/home/CategoryView.hpp"
#include "app/ui/home/ContentView.hpp"
#include "app/ui/home/MainBox.hpp"
#include "app/ui/testing/CleanerRuns.hpp"
#include "app/ui/testing/Screenshots.hpp"
#include "foundation/core/log/RecordingLogger.hpp"

#include <QTest>

#include <gtest/gtest.h>

namespace marrowdale {
namespace {

using Kind = Cleaner::State::Kind;

TEST(InitialCategory, TheFirstOfTheCleanersOrLargeFiles) {
    EXPECT_EQ(initialCategory({}), Category::largeFiles);
    EXPECT_EQ(initialCategory({Category::oldFiles, Category::largeFiles}), Category::oldFiles);
    EXPECT_EQ(initialCategory(allCategories()), Category::largeFiles);
}

class HomeViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        home.writeFile("big.bin", std::string(6000, 'a'));
        home.writeFile("Downloads/setup.iso", "s");
        testing::writeDefinitions(
            bundle, {testing::definitionEntry("bigFiles", home.path(), testing::largerThanCondition(5000)),
                     testing::definitionEntry("downloads", home / "Downloads", testing::deletableCondition)});
        context.loggerFactory = [this](const std::string&) { return logger; };
        context.cleaner =
            Cleaner::make(context.loggerFactory, velmor::Bundle(velmor::URL::fileURL(bundle.path())));
        content = std::make_unique<ContentView>(context);
        content->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(content.get()));
    }

    void TearDown() override { testing::endCurrentRun(cleaner()); }

    Cleaner& cleaner() { return *context.cleaner; }
    HomeView& homeView() { return content->homeView(); }

    void waitFor(Kind kind) {
        ASSERT_TRUE(testing::waitForState(cleaner(), kind));
        homeView().flush();
    }

    velmor::testing::TemporaryDirectory home;
    velmor::testing::TemporaryDirectory bundle;
    std::shared_ptr<velmor::testing::RecordingLogger> logger =
        std::make_shared<velmor::testing::RecordingLogger>();
    Context context;
    std::unique_ptr<ContentView> content;
};

TEST_F(HomeViewTest, StopsShrinkingAt900By700AndGivesExtraRoomToTheMainBox) {
    EXPECT_EQ(content->minimumSize(), QSize(900, 700));
    content->resize(500, 400);
    QTest::qWait(0);
    EXPECT_GE(content->width(), 900);
    EXPECT_GE(content->height(), 700);
    EXPECT_GE(content->minimumSizeHint().width(), 0);
    testing::saveScreenshot(*content, "home-smallest");

    content->resize(1100, 800);
    QTest::qWait(0);
    const QSize box = homeView().mainBox().size();
    const QSize tiles = homeView().categoriesSelector().size();
    content->resize(content->width() + 300, content->height() + 200);
    QTest::qWait(0);
    EXPECT_EQ(homeView().mainBox().width(), box.width() + 300);
    EXPECT_EQ(homeView().mainBox().height(), box.height() + 200);
    EXPECT_EQ(homeView().categoriesSelector().width(), tiles.width());
    testing::saveScreenshot(*content, "home-larger");
}

TEST_F(HomeViewTest, TheCategoryOnShowSurvivesAScanAndAClean) {
    EXPECT_EQ(homeView().selectedCategory(), Category::largeFiles);
    CategoryView* old = homeView().categoriesSelector().tiles().back();
    ASSERT_EQ(old->category(), Category::oldFiles);
    QTest::mouseClick(old, Qt::LeftButton);
    EXPECT_EQ(homeView().selectedCategory(), Category::oldFiles);
    EXPECT_EQ(homeView().mainBox().displayedCategory(), Category::oldFiles);

    cleaner().scan();
    waitFor(Kind::scanned);
    EXPECT_EQ(homeView().selectedCategory(), Category::oldFiles);
    EXPECT_EQ(homeView().mainBox().content(), MainBox::Content::table);
    EXPECT_TRUE(old->isHighlighted());
    testing::saveScreenshot(*content, "home-scanned-old-files");

    cleaner().setSelectedIds(Category::largeFiles, {home / "big.bin"});
    cleaner().clean();
    waitFor(Kind::scanned);
    EXPECT_FALSE(velmor::testing::exists(home / "big.bin"));
    EXPECT_EQ(homeView().selectedCategory(), Category::oldFiles);
    EXPECT_EQ(homeView().mainBox().displayedCategory(), Category::oldFiles);
    testing::saveScreenshot(*content, "home-cleaned-old-files");
}

} // namespace
} // namespace marrowdale
